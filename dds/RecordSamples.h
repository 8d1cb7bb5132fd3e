#pragma once
// The sensor's raw record as a sample of the records topic, and back: the
// same words, field for field. The flags word travels as its two fields
// (scan state and DeltTime); its unused low bit is not carried.

#include "RawRecord.h"
#include "SkarvRecordTypes.h"

namespace skarvdds {

skarv_msgs_msg_dds__SampleRecord_ SampleOf(const kiv::T_RawRecord& record);
// For a sample whose scan_state and delt_time fit the flags word (the feed
// checks that before).
kiv::T_RawRecord RawRecordOf(const skarv_msgs_msg_dds__SampleRecord_& sample);

}  // namespace skarvdds
