#include "ReplaySetup.h"

#include <chrono>

#include "Diagnostics.h"
#include "PrefetchingSource.h"
#include "RecordingReader.h"
#include "SkarvIO.h"
#include "ThreadName.h"
#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

std::shared_ptr<sim::CPlaybackSensor> MakePlaybackSensor(const std::string& file, double speed, std::string& why) {
  auto reader = std::make_shared<sim::CRecordingReader>(file);
  if (!reader->Open()) {
    why = reader->Error();
    return nullptr;
  }
  // The file is read and parsed ahead on a thread of its own, beside the data path.
  return std::make_shared<sim::CPlaybackSensor>(std::make_shared<sim::CPrefetchingSource>(std::move(reader)), speed);
}

CReplayDriver::CReplayDriver(std::shared_ptr<sim::CVirtualBus> bus, CSkarvIO& io,
                             std::shared_ptr<sim::CPlaybackSensor> first, T_ReplayOptions options)
    : mBus(std::move(bus)), mIO(io), mOptions(std::move(options)), mSensor(std::move(first)) {}

CReplayDriver::~CReplayDriver() { StopThread(); }

void CReplayDriver::Begin() {
  if (mBegun) {
    return;
  }
  mBegun = true;
  if (!mSensor) {
    mDone = true;
    return;
  }
  Plug(mSensor);
}

void CReplayDriver::Plug(std::shared_ptr<sim::CPlaybackSensor> sensor) {
  mSensor = std::move(sensor);
  // Every record this sensor sends adds to the controller's count from here.
  mProcessedAtPlug = mIO.GetDeviceStatus().RecordsProcessed;
  mLastProcessed = mProcessedAtPlug;
  mLastChangeFrame = mBus->CurrentFrame();
  mBus->Plug(mSensor);
}

void CReplayDriver::Report(const std::string& error) {
  if (!error.empty()) {
    {
      std::lock_guard lock(mErrorMutex);
      mError = error;
    }
    DiagErrorPrintf("%s\n", error.c_str());
  }
}

void CReplayDriver::Poll() {
  if (!mBegun || mDone.load() || !mSensor) {
    return;
  }
  const uint64_t sent = mSensor->RecordsSent();
  mPlayed = mPlayedBefore + sent;
  if (!mSensor->Finished()) {
    return;
  }
  const uint64_t processed = mIO.GetDeviceStatus().RecordsProcessed;
  const uint32_t frame = mBus->CurrentFrame();
  if (processed != mLastProcessed) {
    mLastProcessed = processed;
    mLastChangeFrame = frame;
  }
  const bool allProcessed = processed - mProcessedAtPlug >= sent;
  if (!allProcessed && frame - mLastChangeFrame < kSettleFrames) {
    return;  // what was sent is still on its way to the controller
  }
  const std::string error = mSensor->Error();
  if (!error.empty() || !mOptions.loop) {
    // Said before the removal is, so that it reads as its cause.
    Report(error);
  }
  mBus->Unplug(mSensor);
  mPlayedBefore += sent;
  if (!error.empty() || !mOptions.loop) {
    mDone = true;
    return;
  }
  std::string why;
  auto next = MakePlaybackSensor(mOptions.file, mOptions.speed, why);
  if (!next) {
    Report(why);  // the file went away or changed since it was opened
    mDone = true;
    return;
  }
  Plug(std::move(next));
}

void CReplayDriver::StartThread() {
  if (mThread.joinable()) {
    return;
  }
  mStopThread = false;
  mThread = std::thread([this] {
    NameThisThread("replay");
    while (!mStopThread.load() && !mDone.load()) {
      Poll();
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
  });
}

void CReplayDriver::StopThread() {
  mStopThread = true;
  if (mThread.joinable()) {
    mThread.join();
  }
}

std::string CReplayDriver::Error() const {
  std::lock_guard lock(mErrorMutex);
  return mError;
}

bool UseReplay(const T_ReplayOptions& options, CSkarvIO& io, T_ReplaySetup& setup, std::string& why) {
  auto sensor = MakePlaybackSensor(options.file, options.speed, why);
  if (!sensor) {
    return false;
  }
  const bool manual = options.speed == 0;
  setup.bus = std::make_shared<sim::CVirtualBus>(manual ? sim::CVirtualBus::Clock::eManual
                                                        : sim::CVirtualBus::Clock::eRealTime);
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(setup.bus));
  setup.driver = std::make_unique<CReplayDriver>(setup.bus, io, std::move(sensor), options);
  setup.driver->Begin();
  return true;
}
