#pragma once
// The control panel's controller work: a worker thread with a 100 ms tick
// that reads the getters, services the status pipe and hands a snapshot of
// what it read to whoever subscribed; the command operations posted to it run
// on the same thread, between ticks, in the order posted.
//
// Subscribers are called on the poller's thread and must not block; a window
// hands the snapshot on to its own thread. Subscribe and set the controller
// before Start.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DeviceStatus.h"
#include "PeriodicWorker.h"

class CSkarvIO;

// What one tick read from the controller, in the order it was read.
struct T_PanelSnapshot {
  double FilteredDist = 0.0;
  double StdDev = 0.0;
  double CurDistance = 0.0;
  int32_t CurWidth = 0;
  int32_t SampleDeltTime = 0;
  double Temperature = 0.0;
  double TemperatureIMU = 0.0;
  int32_t LaserPower = 0;
  double SupplyVoltage = 0.0;
  int32_t CurRotTime = 0;
  int32_t Accel[3] = {};
  int32_t Gyro[3] = {};
  int32_t Magn[3] = {};
  // A parameter block answering the last command has just arrived; then
  // Settings holds its values 1 to 7.
  bool ParamsFresh = false;
  uint16_t Settings[7] = {};
  bool Writing = false;  // a recording file is open
  std::string FileName;  // its name, while Writing
  bool LaserOn = false;
  // The sensor, the record count, the recording and the last error, and
  // when they were read (the record rate comes from successive readings).
  T_DeviceStatus Status;
  std::chrono::steady_clock::time_point TakenAt{};
};

class CPanelPoller {
 public:
  static constexpr int kTickMs = 100;
  using SnapshotSubscriber = std::function<void(const T_PanelSnapshot&)>;

  CPanelPoller();
  ~CPanelPoller();
  CPanelPoller(const CPanelPoller&) = delete;
  CPanelPoller& operator=(const CPanelPoller&) = delete;

  // Not owned; without a controller the ticks read nothing and operations
  // are dropped.
  void SetSkarvIO(CSkarvIO* io) { mSkarvIO = io; }
  void Subscribe(SnapshotSubscriber subscriber);

  // Starts and stops the worker; stopping waits for the tick or operation in
  // progress and prints "Control Thread Done....". The controller may go only
  // after Stop.
  void Start();
  void Stop();

  // Runs `operation` on the controller, on the worker thread.
  void Post(std::function<void(CSkarvIO&)> operation);

  // One tick's reading of the controller; also services the status pipe.
  static T_PanelSnapshot TakeSnapshot(CSkarvIO& io);

 private:
  void Tick();

  CSkarvIO* mSkarvIO = nullptr;
  std::vector<SnapshotSubscriber> mSubscribers;
  CPeriodicWorker mWorker;
};
