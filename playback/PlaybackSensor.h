#pragma once
// A sensor on the virtual bus that plays back records it is fed instead of
// sampling a room: a recording read line by line, or records received from
// another machine. The host sees the sensor itself: its identifiers and
// endpoints, its frames and its answers to commands.
//
// Framing, as the sensor frames its samples: one frame per 1 ms bus frame, a
// 28-byte header and up to 124 8-byte entries. All entries of a frame share
// its header, and the client's decoder drops the rest of a frame at a break
// in the counts, so a record whose header words differ from the frame's, or
// whose count does not follow the previous one by one (modulo 65536), starts
// the next frame: a recorded gap stays a gap and nothing else is lost.
//
// Pace: the first record is due in the first frame the host reads after
// power-up, each later one DeltTime (10 us units) after the one before it,
// on a clock that runs `speed` times as fast as the bus. A record not sent
// when due (the frame was full, or the host did not read) goes out in the
// following frames, and the sensor says it has data waiting while it holds
// a due record that did not fit (a bus that catches up then runs its next
// frame at once, without moving the record clock on): a fast replay is not
// held to what one frame a millisecond carries. With speed 0 every record
// is due at once, so every frame is filled as far as the records allow.
// The device keeps its data while the host does not read: the bus asks it
// for frames the host reads only.
//
// Ending the source (a stop of the program) plays what the source holds
// already as fast as the host reads, then the sensor has finished.
//
// Steered (SetSteering: a replay in the client), it follows the replay's
// controls at each frame the host reads. Paused, it sends nothing (the
// frames stay empty, the record it holds is kept) and the record clock
// starts afresh on play, as it does at a change of speed, so the pace
// changes without a burst. A step forward plays as fast as the host reads
// up to and including the next scan start (the record that completes the
// scan for the client), then pauses; a step back goes to the record before
// the start of the scan before the one last shown and plays that scan the
// same way. A seek asks the source to move to the index entry at or before
// the record and passes over the records from there to it; the first
// record played then does not follow on in the counts, so the client sees
// the seek as one gap. A stop plays out unpaused, as fast as the host reads.
//
// Commands are acknowledged as the virtual sensor acknowledges them (the
// parameter frame with the settings and the last command number); none
// changes the records played.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CommandResponder.h"
#include "RawRecord.h"
#include "RecordSource.h"
#include "ReplaySteering.h"
#include "SensorIdentity.h"
#include "VirtualDevice.h"

namespace playback {

class CPlaybackSensor : public sim::CVirtualDevice {
 public:
  // `speed` 1 plays at the recorded pace, 2 twice as fast, 0 as fast as the
  // host reads.
  explicit CPlaybackSensor(std::shared_ptr<recording::CRecordSource> source, double speed = 1.0,
                           const std::string& serialNumber = "REPLAY");

  // CVirtualDevice
  const sim::DeviceDescription& Description() const override;
  void PowerUp() override;
  size_t ProduceIsoPacket(uint8_t endpoint, uint32_t frame, uint8_t* out, size_t capacity) override;
  bool ReceiveOut(uint8_t endpoint, const uint8_t* data, size_t length) override;
  bool SendIn(uint8_t endpoint, uint8_t* out, size_t capacity, size_t& length) override;
  bool KeepsUnreadData() const override { return true; }
  bool HasDataWaiting() const override;
  void FrameRuns(bool catchingUp) override;

  // Before the sensor is plugged in.
  void SetSteering(std::shared_ptr<recording::CReplaySteering> steering);

  // From any thread: the source takes nothing more in, and what it holds is
  // played as fast as the host reads (speed 0 from now on).
  void EndSource();
  // When the sensor last found its source without a record ready (a file
  // still being read), waits up to `ms` milliseconds for one: a caller that
  // lets the bus's frames pass itself need not let them pass for nothing.
  // Not on the bus's thread while frames run.
  void AwaitRecords(int ms);

  // Safe from any thread.
  uint64_t RecordsSent() const;  // records in frames the host has read
  bool Finished() const;         // the source ended or failed, and every record taken was sent
  // Frames the host has read since the sensor finished: it reads only as
  // its queued transfers let it, so a host that has read many has had every
  // chance to take what was sent, however its time went by.
  uint64_t FramesReadSinceFinished() const;
  std::string Error() const;     // the source's error once it failed; empty otherwise
  std::array<uint16_t, 8> Values() const;
  uint16_t LastCommandNumber() const;
  std::vector<sim::CCommandResponder::ReceivedCommand> ReceivedCommands() const;

 private:
  bool TakeRecord();  // holds the source's next record; false when there is none now
  bool HeldRecordDue() const;
  void FollowSteering();
  void Seek(uint64_t record);
  void StepBack(unsigned scans);
  void RestartClock() { mClockSet = mOriginSet = false; }

  // Guards everything below; bus calls and the accessors take it. The source
  // is called under it, on the bus's thread.
  mutable std::mutex mMutex;
  const sim::DeviceDescription mDescription;
  const std::shared_ptr<recording::CRecordSource> mSource;
  double mSpeed;
  sim::CCommandResponder mCommands;
  bool mDataWaiting = false;  // the last packet left a due record behind
  bool mStarved = false;      // the source had no record ready when asked last

  std::optional<kiv::T_RawRecord> mHeld;  // taken from the source, not yet sent
  uint64_t mHeldDue = 0;                  // its time on the record clock, in 10 us units
  uint64_t mLastDue = 0;                  // of the record taken before it
  bool mAnyTaken = false;
  // The record clock meets the bus at the first frame read after power-up:
  // the record then held (or the next taken) is due in that frame. It runs
  // with the frames that ran at their time: frames the bus runs ahead to
  // catch up with a sensor that is behind take the records already due.
  bool mClockSet = false;
  uint32_t mFirstFrame = 0;
  uint32_t mFrame = 0;  // being read
  uint64_t mCatchUpFrames = 0;  // frames run ahead of their time, so far
  uint64_t mCatchUpAtClock = 0;  // of them, those before the clock was set
  uint64_t mOriginDue = 0;
  bool mOriginSet = false;

  // Steering, and the held record's place in the file.
  std::shared_ptr<recording::CReplaySteering> mSteering;
  bool mEnding = false;         // the source was ended: steering is over
  bool mPaused = false;
  unsigned mStepEdges = 0;      // scan starts still to send in a step; 0: no step
  uint64_t mToPass = 0;         // records a seek passes over
  uint64_t mNextRecord = 0;     // the number in the file of the next record taken
  std::optional<uint64_t> mNextTime;  // its sensor time when known (after a seek)
  uint64_t mTakenTime = 0;            // of the record taken last
  std::optional<uint8_t> mTakenState;  // its scan state; unknown after a seek
  uint64_t mHeldRecord = 0;
  uint64_t mHeldTime = 0;
  bool mHeldScanStart = false;
  bool mAnySent = false;
  uint64_t mSentRecord = 0;     // of the record sent last

  bool mSourceDone = false;
  std::string mError;
  uint64_t mSent = 0;
  uint64_t mFramesReadFinished = 0;
};

}  // namespace playback
