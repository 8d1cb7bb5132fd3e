#pragma once
// What the operator's status line is built from: read in one piece under the
// controller's lock, so that the sensor state, the record count, the
// recording and the last error always agree with each other.

#include <cstdint>
#include <string>

struct T_DeviceStatus {
  // A sensor is open; Serial is its serial number (may be empty).
  bool SensorOpen = false;
  std::string Serial;
  // The sensor is another machine's, its records received over the network;
  // it takes no commands.
  bool Remote = false;
  // Records processed since the program started; a reader turns two
  // readings into a rate, and a count that stands still while the sensor is
  // open into "stalled".
  uint64_t RecordsProcessed = 0;
  // A recording file is open; its name (or the last one's) and the bytes in
  // it: those of its last successful flush (once per update), or what was
  // left after a failure cut it back.
  bool Recording = false;
  std::string FileName;
  uint64_t FileBytes = 0;
  // The last error in plain words (empty when none has happened), and a
  // number that grows with each new error, so a reader can tell a repeat of
  // the same text from a new occurrence.
  std::string LastError;
  uint32_t ErrorNumber = 0;
  // Since the program started: recording files written, the records in
  // them, gaps in the record numbers reported, and recordings that failed
  // (a file that could not be opened, a write, flush or close that did not
  // reach the disk, a file deleted while it was written). A record counts
  // once a flush that covers its line has succeeded; a file removed because
  // it could not take its header, or deleted, counts neither as written nor
  // with its records.
  uint32_t FilesWritten = 0;
  uint64_t RecordsRecorded = 0;
  uint64_t Gaps = 0;
  uint32_t RecordingFailures = 0;
};
