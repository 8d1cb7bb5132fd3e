#pragma once
// The data path: a worker thread that steps the controller's continuous
// update every 10 ms and hands what each step produced to whoever subscribed
// - the records it processed and, when a scan of more than two points was
// completed, a copy of that scan. Any front end (the scan view, a recorder
// without windows) subscribes to it; nothing else calls UpdateContiniousData.
//
// Subscribers are called on the data path's thread, in the order they
// subscribed, and must not block; a window hands the data on to its own
// thread. Subscribe before Start.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "PeriodicWorker.h"
#include "SkarvIO.h"

// One completed scan, copied off the controller: point i is the i-th angle
// step of the turn.
struct T_Scan {
  std::vector<double> distances;
  std::vector<double> widths;
};

class CDataPath {
 public:
  static constexpr int kTickMs = 10;
  using ScanSubscriber = std::function<void(std::shared_ptr<const T_Scan>)>;
  // The raw records of one update, as the sensor sent them; valid only
  // during the call.
  using RecordSubscriber = std::function<void(std::span<const kiv::T_RawRecord>)>;

  // The controller must outlive the data path's thread (Stop, or the
  // destructor, ends it).
  explicit CDataPath(CSkarvIO& io);
  ~CDataPath();
  CDataPath(const CDataPath&) = delete;
  CDataPath& operator=(const CDataPath&) = delete;

  void SubscribeScans(ScanSubscriber subscriber);
  void SubscribeRecords(RecordSubscriber subscriber);

  // Starts and stops the 10 ms worker; stopping waits for the step in
  // progress and prints "View Thread Done....".
  void Start();
  void Stop();
  bool Running() const { return mWorker.Running(); }

  // The serial number of the sensor the data path reads now (empty while
  // none is open). It changes only inside an update, on the thread that
  // steps the data path: read it there, as a subscriber does for the
  // update's records.
  const std::string& SensorSerial() const { return mIO.OpenSensorSerial(); }
  // Reads the controller's status in one piece, from any thread, for as
  // long as the controller lives (the data path may be gone): nothing until
  // the data path's first update, as the controller is set up before it.
  using StatusReader = std::function<std::optional<T_DeviceStatus>()>;
  StatusReader StatusSource() const {
    CSkarvIO* io = &mIO;
    return [io, updated = mUpdated]() -> std::optional<T_DeviceStatus> {
      if (!updated->load(std::memory_order_acquire)) {
        return std::nullopt;
      }
      return io->GetDeviceStatus();
    };
  }

  // One step of the data path on the calling thread: what the worker runs
  // every tick. It updates the controller until every transfer completed so
  // far is taken, handing on the records and scan of each update. Only one
  // thread may step the data path.
  void Step();

 private:
  void Update();  // one update of the controller and its hand-over

  CSkarvIO& mIO;
  // Set at the first update, for StatusSource's readers.
  std::shared_ptr<std::atomic<bool>> mUpdated = std::make_shared<std::atomic<bool>>(false);
  std::vector<ScanSubscriber> mScanSubscribers;
  std::vector<RecordSubscriber> mRecordSubscribers;
  CPeriodicWorker mWorker;
};
