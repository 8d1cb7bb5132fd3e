#pragma once
// Looks after the playback sensors on a virtual bus: a recording played
// back, or the records of another machine's sensor. It plugs a sensor in
// and, once the sensor has finished (its source ended or failed) and the
// controller has processed every record it sent, unplugs it: the client
// reports the removal as on any unplugging. The records the controller has
// taken decide that, never a time since plugging, so a source that pauses
// (a pipe, a stopped process, a busy machine) holds the replay however long.
// Where sensors come from is the caller's: a replay has one, a subscription
// one for each publisher it follows in turn.
//
// A bad line, or whatever else ended a source with an error, is printed
// once on standard error before the removal, so that it reads as its cause.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "PlaybackSensor.h"
#include "VirtualBus.h"

class CSkarvIO;

namespace playback {

class CPlaybackDriver {
 public:
  // Polling period of the driver's own thread.
  static constexpr int kPollMs = 5;
  // Once a sensor has finished, the frames the host may read before records
  // it sent and the controller never processed are given up as lost (the
  // host reads only as fast as it takes its transfers, so it has had every
  // chance): a replay always ends, and the loss ends it as an error.
  static constexpr uint64_t kLostAfterFrames = 3000;

  // Asked for the next sensor whenever none is plugged; nullptr: none (yet).
  using NextSensor = std::function<std::shared_ptr<CPlaybackSensor>()>;
  enum class EAfterSensor { eDone, eNext };

  // The bus must serve the USB library layer the controller uses. With
  // eDone the playback is over once its first sensor is unplugged (a
  // replay); with eNext the driver waits for the next (a subscription).
  // Nothing is plugged before Begin.
  CPlaybackDriver(std::shared_ptr<sim::CVirtualBus> bus, CSkarvIO& io, NextSensor next, EAfterSensor after);
  ~CPlaybackDriver();  // stops the thread; leaves a sensor plugged
  CPlaybackDriver(const CPlaybackDriver&) = delete;
  CPlaybackDriver& operator=(const CPlaybackDriver&) = delete;

  // Plugs the first sensor, when there is one.
  void Begin();
  // One look, on the calling thread: unplugs a sensor that is done, plugs
  // the next. For a caller that steps a manual clock bus itself; call it
  // between steps of the data path.
  void Poll();
  // For that caller, before it lets frames pass: waits up to `ms` for the
  // plugged sensor's source when it had no record ready (a file still being
  // read, a pipe that pauses), so that no frames pass for nothing.
  void AwaitSource(int ms);
  // Or: Poll every kPollMs on a thread of the driver's own, for a bus on the
  // wall clock, until Done or StopThread.
  void StartThread();
  void StopThread();

  // From any thread, when the program is asked to stop: the sensor's source
  // takes nothing more in, what it holds is played as fast as the data path
  // takes it, and the playback is done once the controller has it all.
  void EndSources() { mEndRequested = true; }
  // How long a stop waits for that, at most, on the wall clock.
  static constexpr double kPlayOutSeconds = 10.0;
  // EndSources, then waits (with the driver's thread and the data path
  // running) until the playback is done, kPlayOutSeconds pass or `giveUp`
  // says true; false when it did not get done.
  bool PlayOut(const std::function<bool()>& giveUp);

  // Safe from any thread.
  bool Done() const { return mDone.load(); }  // over, and no sensor plugged
  std::string Error() const;  // what ended a source with an error, or a loss; empty when none
  uint64_t RecordsPlayed() const { return mPlayed.load(); }  // records sent by every sensor so far

 private:
  void Plug(std::shared_ptr<CPlaybackSensor> sensor);
  void Report(const std::string& error);  // keeps and prints what ended a source

  const std::shared_ptr<sim::CVirtualBus> mBus;
  CSkarvIO& mIO;
  const NextSensor mNext;
  const EAfterSensor mAfter;

  // Used by the polling thread (or the caller of Poll) alone.
  std::shared_ptr<CPlaybackSensor> mSensor;
  uint64_t mProcessedAtPlug = 0;  // the controller's record count when the sensor was plugged
  uint64_t mPlayedBefore = 0;     // records sent by the sensors before it
  bool mSourceEnded = false;      // the plugged sensor's source was told to end
  bool mBegun = false;

  std::atomic<bool> mEndRequested{false};
  std::atomic<bool> mDone{false};
  std::atomic<uint64_t> mPlayed{0};
  mutable std::mutex mErrorMutex;
  std::string mError;

  std::thread mThread;
  std::atomic<bool> mStopThread{false};
};

}  // namespace playback
