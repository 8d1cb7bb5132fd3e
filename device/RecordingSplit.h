#pragma once
// How a long recording is split into numbered files, and how many of them a
// run keeps: the same rules for the CSV files and the MCAP files.
//
// A file is closed, and the recording goes on in the next number, at the
// first update after it holds `maxBytes` or `maxUnits` of the sensor's time
// (its records' DeltTime, 10 us units; the sensor's own clock, so a replay
// splits where the live recording did): between two updates, so no record
// is lost or written twice, and the counts run on without a gap. 0: no
// limit. With `maxFiles` only the last that many files of the run are kept,
// older ones removed as new ones open (a rolling log); 0 keeps all.

#include <cstdint>

struct T_RecordingSplit {
  uint64_t maxBytes = 0;
  uint64_t maxUnits = 0;
  uint32_t maxFiles = 0;

  bool Due(uint64_t bytes, uint64_t units) const {
    return (maxBytes > 0 && bytes >= maxBytes) || (maxUnits > 0 && units >= maxUnits);
  }
};
