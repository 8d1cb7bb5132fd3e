#pragma once
// The controls of a replay, between the window that sets them (the GUI
// thread) and the playback sensor that follows them (the bus's thread):
// play and pause, a step of whole scans forward or back, the speed, a seek
// to a record of the file. The window's calls only leave word here; the
// sensor takes what was asked at its next frame and says here which record
// it played last, so neither ever waits for the other.
//
// Seeks and steps back need the recording's index (a file, not a pipe);
// without one they are not offered (Seekable) and are ignored.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "RecordingIndex.h"

namespace recording {

class CReplaySteering {
 public:
  static constexpr double kMinSpeed = 0.25;
  static constexpr double kMaxSpeed = 8.0;

  // `speed` as the replay was started with (0: as fast as the host reads;
  // 1 the recorded pace); `index` nullptr when the file cannot be indexed.
  CReplaySteering(std::shared_ptr<const CRecordingIndex> index, double speed);

  // From any thread (the window's).
  void Play();
  void Pause();
  // Pauses, then plays `scans` whole scans forward (> 0) or goes back to
  // show the -`scans`-th scan before the one shown last (< 0).
  void StepScans(int scans);
  void SetSpeed(double speed);  // kept within kMinSpeed..kMaxSpeed
  void SeekToRecord(uint64_t record);

  bool Seekable() const { return mIndex != nullptr; }
  const CRecordingIndex* Index() const { return mIndex.get(); }
  bool Paused() const { return mPaused.load(); }
  double Speed() const;
  // The record the replay is at: the one it played last, or the one a seek
  // goes to until it is played; its sensor time since the first record, in
  // 10 us units.
  struct T_Place {
    uint64_t record = 0;
    uint64_t time = 0;
  };
  T_Place Place() const;

  // For the playback sensor, at each frame: what was asked since it took
  // the orders last.
  struct T_Orders {
    bool paused = false;
    double speed = 1.0;
    int stepScans = 0;
    bool endStep = false;  // a step under way ends (a pause, a play, a seek)
    std::optional<uint64_t> seek;
  };
  // Steps, seeks and the end of a step are taken once. False, and `orders`
  // left alone, when nothing was asked since.
  bool TakeOrders(T_Orders& orders);
  // The sensor played `record`, of sensor time `time`.
  void NotePlayed(uint64_t record, uint64_t time);

 private:
  void Changed() { mChanged.store(true, std::memory_order_release); }

  const std::shared_ptr<const CRecordingIndex> mIndex;
  mutable std::mutex mMutex;  // guards the orders
  T_Orders mOrders;
  std::atomic<bool> mChanged{false};
  std::atomic<bool> mPaused{false};
  std::atomic<uint64_t> mRecord{0};
  std::atomic<uint64_t> mTime{0};
};

}  // namespace recording
