#include "PanelPoller.h"

#include <algorithm>
#include <utility>

#include "SkarvIO.h"

CPanelPoller::CPanelPoller() : mWorker(kTickMs, [this] { Tick(); }, "Control Thread Done....\n", "panel poller") {}

CPanelPoller::~CPanelPoller() { Stop(); }

void CPanelPoller::Subscribe(SnapshotSubscriber subscriber) { mSubscribers.push_back(std::move(subscriber)); }

void CPanelPoller::Start() { mWorker.Start(); }

void CPanelPoller::Stop() { mWorker.Stop(); }

void CPanelPoller::Post(std::function<void(CSkarvIO&)> operation) {
  CSkarvIO* io = mSkarvIO;
  if (!io) {
    return;
  }
  mWorker.Post([io, operation = std::move(operation)] { operation(*io); });
}

void CPanelPoller::Tick() {
  if (!mSkarvIO) {
    return;
  }
  const T_PanelSnapshot snapshot = TakeSnapshot(*mSkarvIO);
  for (const SnapshotSubscriber& subscriber : mSubscribers) {
    subscriber(snapshot);
  }
}

T_PanelSnapshot CPanelPoller::TakeSnapshot(CSkarvIO& io) {
  T_PanelSnapshot snapshot;
  snapshot.FilteredDist = io.GetFilteredDist();
  snapshot.StdDev = io.GetStdDev();
  snapshot.CurDistance = io.GetCurDistance();
  snapshot.CurWidth = io.GetCurWidth();
  snapshot.SampleDeltTime = io.GetSampleDeltTime();
  snapshot.Temperature = io.GetTemperature();
  snapshot.TemperatureIMU = io.GetTemperatureIMU();
  snapshot.LaserPower = io.GetLaserPower();
  snapshot.SupplyVoltage = io.GetSupplyVoltage();
  snapshot.CurRotTime = io.GetCurRotTime();
  snapshot.Accel[0] = io.GetAccelX();
  snapshot.Accel[1] = io.GetAccelY();
  snapshot.Accel[2] = io.GetAccelZ();
  snapshot.Gyro[0] = io.GetGyroX();
  snapshot.Gyro[1] = io.GetGyroY();
  snapshot.Gyro[2] = io.GetGyroZ();
  snapshot.Magn[0] = io.GetMagnX();
  snapshot.Magn[1] = io.GetMagnY();
  snapshot.Magn[2] = io.GetMagnZ();
  // mParameters is written only by HandleStatusPipe, on this thread.
  snapshot.ParamsFresh = io.HandleStatusPipe();
  if (snapshot.ParamsFresh) {
    std::copy(io.mParameters.Values + 1, io.mParameters.Values + 8, snapshot.Settings);
  }
  snapshot.Writing = io.mSaveFile.load() != nullptr;
  if (snapshot.Writing) {
    snapshot.FileName = io.GetCurrentFileName();
  }
  snapshot.LaserOn = io.LaserIsOn();
  snapshot.Status = io.GetDeviceStatus();
  snapshot.TakenAt = std::chrono::steady_clock::now();
  return snapshot;
}
