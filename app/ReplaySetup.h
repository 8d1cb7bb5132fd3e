#pragma once
// Plays a SkarvData recording back as a sensor on the virtual bus (--replay),
// so that every layer from the transfers up sees it as it saw the live
// sensor. The driver plugs a playback sensor reading the file; once the
// sensor has sent its last record and the controller has processed every
// record it sent, the driver unplugs it (the client reports the removal as
// on any unplugging), or with loop plugs a fresh one reading the file from
// its start. A bad line in the file is printed once on standard error, as
// "FILE:LINE: what is wrong", after everything before it was played; the
// sensor is then unplugged and the replay is over.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "PlaybackSensor.h"
#include "VirtualBus.h"

class CSkarvIO;

struct T_ReplayOptions {
  std::string file;
  double speed = 1.0;  // 1 the recorded pace, 0 as fast as the data path takes the records
  bool loop = false;   // start again at the end of the file
};

// A playback sensor reading `file` from its start at `speed`; nullptr with
// `why` ("FILE: why") when the file cannot be read or is not a recording.
std::shared_ptr<sim::CPlaybackSensor> MakePlaybackSensor(const std::string& file, double speed, std::string& why);

class CReplayDriver {
 public:
  // Polling period of the driver's own thread.
  static constexpr int kPollMs = 5;
  // A sensor that has sent everything is unplugged anyway when the records
  // it sent have not all reached the controller within this much bus time
  // (the controller lost some): a replay always ends.
  static constexpr uint32_t kSettleFrames = 3000;

  // `first` is the sensor to play first (from MakePlaybackSensor with the
  // same file and speed); the bus must serve the USB library layer the
  // controller uses. Nothing is plugged before Begin.
  CReplayDriver(std::shared_ptr<sim::CVirtualBus> bus, CSkarvIO& io, std::shared_ptr<sim::CPlaybackSensor> first,
                T_ReplayOptions options);
  ~CReplayDriver();  // stops the thread; leaves the sensor plugged
  CReplayDriver(const CReplayDriver&) = delete;
  CReplayDriver& operator=(const CReplayDriver&) = delete;

  // Plugs the first sensor.
  void Begin();
  // One look at the replay, on the calling thread: unplugs a sensor that is
  // done, plugs the next one with loop. For a caller that steps a manual
  // clock bus itself; call it between steps of the data path.
  void Poll();
  // Or: Poll every kPollMs on a thread of the driver's own, for a bus on the
  // wall clock, until Done or StopThread.
  void StartThread();
  void StopThread();

  // Safe from any thread.
  bool Done() const { return mDone.load(); }       // the replay is over and its sensor unplugged
  std::string Error() const;                       // "FILE:LINE: what is wrong", or "FILE: why" on a loop's reopening; empty when none
  uint64_t RecordsPlayed() const { return mPlayed.load(); }  // records sent by every sensor so far

 private:
  void Plug(std::shared_ptr<sim::CPlaybackSensor> sensor);
  void Report(const std::string& error);  // keeps and prints what ended the replay

  const std::shared_ptr<sim::CVirtualBus> mBus;
  CSkarvIO& mIO;
  const T_ReplayOptions mOptions;

  // Used by the polling thread (or the caller of Poll) alone.
  std::shared_ptr<sim::CPlaybackSensor> mSensor;
  uint64_t mProcessedAtPlug = 0;  // the controller's record count when the sensor was plugged
  uint64_t mPlayedBefore = 0;     // records sent by the sensors before it
  uint64_t mLastProcessed = 0;    // to see the controller's count stand still ...
  uint32_t mLastChangeFrame = 0;  // ... since this bus frame
  bool mBegun = false;

  std::atomic<bool> mDone{false};
  std::atomic<uint64_t> mPlayed{0};
  mutable std::mutex mErrorMutex;
  std::string mError;

  std::thread mThread;
  std::atomic<bool> mStopThread{false};
};

// The replay for a program's start-up: a virtual bus made the USB library's
// backend, with the recording's playback sensor plugged in. With speed 0 the
// bus runs on a manual clock and the caller steps it (bus->Advance) and
// calls driver->Poll() between steps of the data path; a step may let pass
// as many frames as the data pipe's ring of transfers has queued (160), as
// the data path takes every completed transfer in one step. Otherwise the bus follows the wall clock, and the caller
// starts the driver's thread (driver->StartThread()) once the controller is
// initialised.
struct T_ReplaySetup {
  std::shared_ptr<sim::CVirtualBus> bus;
  std::unique_ptr<CReplayDriver> driver;
};

// False with `why` ("FILE: why") when the file is refused; nothing is set up then.
bool UseReplay(const T_ReplayOptions& options, CSkarvIO& io, T_ReplaySetup& setup, std::string& why);
