#include "ReplaySteering.h"

#include <algorithm>

namespace recording {

CReplaySteering::CReplaySteering(std::shared_ptr<const CRecordingIndex> index, double speed)
    : mIndex(std::move(index)) {
  mOrders.speed = speed > 0 ? speed : 0;
}

void CReplaySteering::Play() {
  std::lock_guard lock(mMutex);
  mOrders.paused = false;
  mOrders.stepScans = 0;
  mOrders.endStep = true;
  mPaused = false;
  Changed();
}

void CReplaySteering::Pause() {
  std::lock_guard lock(mMutex);
  mOrders.paused = true;
  mOrders.stepScans = 0;
  mOrders.endStep = true;
  mPaused = true;
  Changed();
}

void CReplaySteering::StepScans(int scans) {
  if (scans < 0 && !mIndex) {
    return;
  }
  std::lock_guard lock(mMutex);
  mOrders.paused = true;
  mOrders.stepScans += scans;
  mPaused = true;
  Changed();
}

void CReplaySteering::SetSpeed(double speed) {
  std::lock_guard lock(mMutex);
  mOrders.speed = std::clamp(speed, kMinSpeed, kMaxSpeed);
  Changed();
}

double CReplaySteering::Speed() const {
  std::lock_guard lock(mMutex);
  return mOrders.speed;
}

void CReplaySteering::SeekToRecord(uint64_t record) {
  if (!mIndex || mIndex->Records() == 0) {
    return;
  }
  record = std::min(record, mIndex->Records() - 1);
  std::lock_guard lock(mMutex);
  mOrders.seek = record;
  mOrders.stepScans = 0;  // a step under way ends where the seek goes
  mOrders.endStep = true;
  mRecord = record;
  const std::optional<CRecordingIndex::T_Entry> entry = mIndex->AtOrBefore(record);
  mTime = entry ? entry->time : 0;
  Changed();
}

bool CReplaySteering::TakeOrders(T_Orders& orders) {
  if (!mChanged.load(std::memory_order_acquire)) {
    return false;
  }
  std::lock_guard lock(mMutex);
  mChanged = false;
  orders = mOrders;
  mOrders.stepScans = 0;
  mOrders.endStep = false;
  mOrders.seek.reset();
  return true;
}

void CReplaySteering::NotePlayed(uint64_t record, uint64_t time) {
  mRecord.store(record, std::memory_order_relaxed);
  mTime.store(time, std::memory_order_relaxed);
}

CReplaySteering::T_Place CReplaySteering::Place() const {
  return T_Place{mRecord.load(std::memory_order_relaxed), mTime.load(std::memory_order_relaxed)};
}

}  // namespace recording
