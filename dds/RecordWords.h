#pragma once
// A decoded sample record turned back into the words the sensor sent for it.
// The decoder scales some words into doubles (distance, supply voltage,
// laser temperature); each scaling is undone by rounding to the nearest
// word, which gives back exactly the word decoded, so a record sent on in
// words is rebuilt without loss.

#include "PlaybackRecord.h"
#include "SampleRecord.h"

namespace skarvdds {

sim::T_PlaybackRecord RawWordsOf(const kiv::T_Record& record);

}  // namespace skarvdds
