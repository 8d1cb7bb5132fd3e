#pragma once
// Where a playback sensor takes the sensor's raw records from.

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "RawRecord.h"

namespace recording {

// Where a record lies in its file, so that a reader can go back to it: the
// byte offset of the line (CSV) or of the top-level MCAP record (a chunk, a
// message) it comes from, the lines before that offset (CSV: its error
// messages keep their line numbers), and the records of that place to pass
// over before it (MCAP: its place within its chunk).
struct T_RecordPosition {
  uint64_t offset = 0;
  uint64_t line = 0;
  uint64_t skip = 0;
};

// Where a playback sensor takes its records from: a recording read line by
// line, or a feed of records from another machine. Called on the bus's
// thread, one record at a time, in order.
class CRecordSource {
 public:
  enum class EResult {
    eRecord,  // `out` holds the next record
    eWait,    // none yet (a live feed): ask again at a later frame
    eEnd,     // no more records
    eError,   // the source cannot go on: Error() says why
  };
  virtual ~CRecordSource() = default;
  // What a playback sensor reads never waits for a record that is not there
  // yet: eWait says to ask again. (A recording, whose reading may wait for a
  // pipe, is read ahead on a thread of its own: CPrefetchingSource.)
  virtual EResult Next(kiv::T_RawRecord& out) = 0;
  // What stopped the source, in the form "FILE:LINE: what is wrong" for a
  // recording; empty when nothing went wrong.
  virtual std::string Error() const { return {}; }
  // Takes nothing more in from now on (safe from any thread): the records it
  // holds already are still handed out, then it ends (eEnd). A program that
  // is asked to stop ends its source this way, so that whatever reached it
  // is played and recorded before it stops.
  virtual void EndIntake() {}
  // After Next said eWait: waits up to `ms` milliseconds for a record to be
  // at hand (or the end), true when one is; one that cannot tell waits a
  // millisecond. A source read ahead on a thread of its own may be awaited
  // beside Next on another thread.
  virtual bool AwaitRecords(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms > 0 ? 1 : 0));
    return false;
  }
  // For a source whose reading can wait (a pipe): it waits in poll() on
  // this descriptor too, and ends its intake once the descriptor is
  // readable. Set before the first Next, from the thread that reads.
  virtual void SetInterruptFd(int /*fd*/) {}
  // For a source that can go back and forth in its file: where the record
  // the next Next gives lies (false when it cannot say), and a move there,
  // after which Next goes on from that record (false when the source cannot
  // move, as a pipe, or has failed).
  virtual bool Position(T_RecordPosition& /*at*/) const { return false; }
  virtual bool SeekTo(const T_RecordPosition& /*at*/) { return false; }
};

}  // namespace recording
