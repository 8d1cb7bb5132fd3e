#include "PlaybackSensor.h"

#include <algorithm>

#include "SampleFrameCodec.h"

namespace playback {

using recording::CRecordSource;
using sim::SensorIdentity;

CPlaybackSensor::CPlaybackSensor(std::shared_ptr<CRecordSource> source, double speed, const std::string& serialNumber)
    : mDescription(sim::SensorDescription(serialNumber, "Skarv laser range sensor (playback)")),
      mSource(std::move(source)),
      mSpeed(speed > 0 ? speed : 0) {}

const sim::DeviceDescription& CPlaybackSensor::Description() const {
  return mDescription;  // never changes
}

void CPlaybackSensor::PowerUp() {
  std::lock_guard lock(mMutex);
  mCommands.PowerUp();
  // Plugged in again, it goes on with the records where it stopped, on a
  // clock that starts afresh.
  mClockSet = false;
  mOriginSet = false;
}

void CPlaybackSensor::SetSteering(std::shared_ptr<recording::CReplaySteering> steering) {
  std::lock_guard lock(mMutex);
  mSteering = std::move(steering);
}

bool CPlaybackSensor::TakeRecord() {
  if (mHeld) {
    return true;
  }
  while (!mSourceDone && mSource) {
    kiv::T_RawRecord record;
    const CRecordSource::EResult result = mSource->Next(record);
    mStarved = result == CRecordSource::EResult::eWait;
    switch (result) {
      case CRecordSource::EResult::eRecord:
        break;
      case CRecordSource::EResult::eWait:
        return false;
      case CRecordSource::EResult::eEnd:
        mSourceDone = true;
        return false;
      case CRecordSource::EResult::eError:
        mSourceDone = true;
        mError = mSource->Error();
        return false;
    }
    // Its place in the file: a looped file starts its numbers again.
    const recording::CRecordingIndex* index = mSteering ? mSteering->Index() : nullptr;
    if (index && index->Complete() && mNextRecord >= index->Records()) {
      mNextRecord = 0;
      mNextTime = 0;
    }
    const uint64_t time = mNextTime ? *mNextTime : mTakenTime + (mNextRecord > 0 ? record.DeltTime() : 0);
    const bool scanStart = mTakenState && record.ScanState() != *mTakenState;
    mNextTime.reset();
    mTakenTime = time;
    mTakenState = record.ScanState();
    const uint64_t number = mNextRecord++;
    if (mToPass > 0) {
      --mToPass;  // on the way to a seek's record
      continue;
    }
    mHeldDue = mAnyTaken ? mLastDue + record.DeltTime() : 0;
    mLastDue = mHeldDue;
    mAnyTaken = true;
    mHeld = record;
    mHeldRecord = number;
    mHeldTime = time;
    mHeldScanStart = scanStart;
    return true;
  }
  mSourceDone = true;
  return false;
}

void CPlaybackSensor::FollowSteering() {
  recording::CReplaySteering::T_Orders orders;
  if (!mSteering || mEnding || !mSteering->TakeOrders(orders)) {
    return;
  }
  if (orders.speed != mSpeed) {
    mSpeed = orders.speed;
    RestartClock();
  }
  if (orders.endStep) {
    mStepEdges = 0;
  }
  if (orders.seek) {
    Seek(*orders.seek);
  }
  if (orders.stepScans < 0) {
    StepBack(static_cast<unsigned>(-orders.stepScans));
  } else {
    mStepEdges += static_cast<unsigned>(orders.stepScans);
  }
  if (mPaused && !orders.paused) {
    RestartClock();
  }
  mPaused = orders.paused;
}

void CPlaybackSensor::Seek(uint64_t record) {
  const recording::CRecordingIndex* index = mSteering->Index();
  const std::optional<recording::CRecordingIndex::T_Entry> entry = index ? index->AtOrBefore(record) : std::nullopt;
  if (!entry || !mError.empty() || !mSource->SeekTo(entry->at)) {
    return;
  }
  mHeld.reset();
  mSourceDone = false;
  mStarved = false;
  mToPass = record - entry->record;
  mNextRecord = entry->record;
  mNextTime = entry->time;
  mTakenState.reset();
  RestartClock();
}

void CPlaybackSensor::StepBack(unsigned scans) {
  const recording::CRecordingIndex* index = mSteering->Index();
  if (!index) {
    return;
  }
  // The scan shown last is the one before the scan the last record sent is
  // in; from the record before the start of the scan to show, the step plays
  // through its start (the client's edge) to the start of the next.
  const uint64_t show = index->ScanStart(mAnySent ? mSentRecord : 0, scans + 1);
  Seek(show > 0 ? show - 1 : 0);
  mStepEdges = show > 0 ? 2 : 1;
}

void CPlaybackSensor::FrameRuns(bool catchingUp) {
  std::lock_guard lock(mMutex);
  mCatchUpFrames += catchingUp ? 1 : 0;
}

bool CPlaybackSensor::HeldRecordDue() const {
  if (mSpeed == 0 || mStepEdges > 0) {
    return true;
  }
  // Sensor time at the end of this frame, on the record clock.
  const uint64_t framesRun = static_cast<uint32_t>(mFrame - mFirstFrame) + uint64_t{1} - (mCatchUpFrames - mCatchUpAtClock);
  const double now = static_cast<double>(framesRun * SensorIdentity::kTimeUnitsPerMs) * mSpeed;
  return static_cast<double>(mHeldDue - mOriginDue) < now;
}

size_t CPlaybackSensor::ProduceIsoPacket(uint8_t endpoint, uint32_t frame, uint8_t* out, size_t capacity) {
  std::lock_guard lock(mMutex);
  constexpr size_t kHeader = SensorIdentity::kHeaderBytes;
  constexpr size_t kEntry = SensorIdentity::kEntryBytes;
  if (endpoint != SensorIdentity::kDataEndpoint || capacity < kHeader + kEntry) {
    return 0;
  }
  FollowSteering();
  mFrame = frame;
  if (!mClockSet) {
    mClockSet = true;
    mFirstFrame = frame;
    mCatchUpAtClock = mCatchUpFrames;
  }
  if (mSourceDone && !mHeld) {
    ++mFramesReadFinished;
  }
  if (mPaused && mStepEdges == 0) {
    mDataWaiting = false;
    return 0;  // the record held stays held
  }
  const size_t maxEntries = std::min(SensorIdentity::kMaxEntriesPerFrame, (capacity - kHeader) / kEntry);
  size_t entries = 0;
  kiv::T_RawRecord frameHead;
  uint16_t previousCount = 0;
  while (entries < maxEntries && TakeRecord()) {
    if (!mOriginSet) {
      mOriginSet = true;
      mOriginDue = mHeldDue;
    }
    const kiv::T_RawRecord& record = *mHeld;
    if (!HeldRecordDue()) {
      break;
    }
    if (entries == 0) {
      frameHead = record;
      kiv::EncodeFrameHeader(out, record);
    } else if (!frameHead.SameHeader(record) || record.count != static_cast<uint16_t>(previousCount + 1)) {
      break;  // starts the next frame
    }
    kiv::EncodeSampleEntry(out + kHeader + entries * kEntry, record);
    previousCount = record.count;
    ++entries;
    mHeld.reset();
    mAnySent = true;
    mSentRecord = mHeldRecord;
    if (mSteering) {
      mSteering->NotePlayed(mHeldRecord, mHeldTime);
    }
    if (mStepEdges > 0 && mHeldScanStart && --mStepEdges == 0) {
      mPaused = true;  // the step is over
      break;
    }
  }
  // A due record left over (the frame was full, or the next starts a frame
  // of its own): the host could take it in the very next frame.
  mDataWaiting = !mPaused || mStepEdges > 0 ? TakeRecord() && HeldRecordDue() : false;
  mSent += entries;
  return entries > 0 ? kHeader + entries * kEntry : 0;
}

bool CPlaybackSensor::ReceiveOut(uint8_t endpoint, const uint8_t* data, size_t length) {
  std::lock_guard lock(mMutex);
  // Acknowledged and kept as settings; the records played stay as they are.
  return mCommands.Receive(endpoint, data, length).has_value();
}

bool CPlaybackSensor::SendIn(uint8_t endpoint, uint8_t* out, size_t capacity, size_t& length) {
  std::lock_guard lock(mMutex);
  return mCommands.Send(endpoint, out, capacity, length);
}

bool CPlaybackSensor::HasDataWaiting() const {
  std::lock_guard lock(mMutex);
  return mDataWaiting;
}

void CPlaybackSensor::EndSource() {
  // The source is told outside the sensor's lock: it may wake a thread of
  // its own, which never needs this lock.
  if (mSource) {
    mSource->EndIntake();
  }
  std::lock_guard lock(mMutex);
  mSpeed = 0;
  // A stop plays out what the source holds, however the replay was steered.
  mEnding = true;
  mPaused = false;
  mStepEdges = 0;
}

void CPlaybackSensor::AwaitRecords(int ms) {
  {
    std::lock_guard lock(mMutex);
    if (!mStarved || !mSource) {
      return;
    }
  }
  mSource->AwaitRecords(ms);
}

uint64_t CPlaybackSensor::RecordsSent() const {
  std::lock_guard lock(mMutex);
  return mSent;
}

bool CPlaybackSensor::Finished() const {
  std::lock_guard lock(mMutex);
  return mSourceDone && !mHeld;
}

uint64_t CPlaybackSensor::FramesReadSinceFinished() const {
  std::lock_guard lock(mMutex);
  return mFramesReadFinished;
}

std::string CPlaybackSensor::Error() const {
  std::lock_guard lock(mMutex);
  return mError;
}

std::array<uint16_t, 8> CPlaybackSensor::Values() const {
  std::lock_guard lock(mMutex);
  return mCommands.Values();
}

uint16_t CPlaybackSensor::LastCommandNumber() const {
  std::lock_guard lock(mMutex);
  return mCommands.LastCommandNumber();
}

std::vector<sim::CCommandResponder::ReceivedCommand> CPlaybackSensor::ReceivedCommands() const {
  std::lock_guard lock(mMutex);
  return mCommands.ReceivedCommands();
}

}  // namespace playback
