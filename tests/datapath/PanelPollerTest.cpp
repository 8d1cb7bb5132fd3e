// The control panel's poller with no windows: it reads the controller on its
// own thread while the data path is stepped here on the manual clock, runs
// the operations posted to it in order on that thread, and hands snapshots
// to its subscriber.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DataPath.h"
#include "PanelPoller.h"
#include "device/EndToEndFixture.h"

namespace {

using PanelPoller = EndToEndFixture;

const std::string kDoneLine = "Control Thread Done....\n";

TEST_F(PanelPoller, RunsPostedCommandsInOrderAndReportsTheSensorsAnswer) {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<int> ran;
  bool ranOnTestThread = false;
  bool sawOpenSensor = false;
  bool sawAnswer = false;
  bool ranAfterStop = false;
  const std::thread::id testThread = std::this_thread::get_id();

  const std::string out = Quietly([&] {
    CDataPath path(*controller);
    CPanelPoller poller;
    poller.SetSkarvIO(controller.get());
    poller.Subscribe([&](const T_PanelSnapshot& snapshot) {
      std::lock_guard<std::mutex> guard(lock);
      sawOpenSensor = sawOpenSensor || snapshot.Status.SensorOpen;
      sawAnswer = sawAnswer || (snapshot.ParamsFresh && snapshot.Settings[0] == 321);
      changed.notify_all();
    });
    poller.Start();
    for (int job = 1; job <= 3; ++job) {
      poller.Post([&, job](CSkarvIO& io) {
        std::lock_guard<std::mutex> guard(lock);
        ran.push_back(job);
        ranOnTestThread = ranOnTestThread || std::this_thread::get_id() == testThread;
        if (job == 2) io.SetFarGain(321);
      });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::unique_lock<std::mutex> guard(lock);
    while (!(sawOpenSensor && sawAnswer) && std::chrono::steady_clock::now() < deadline) {
      guard.unlock();
      bus->Advance(10);
      path.Step();
      guard.lock();
      changed.wait_for(guard, std::chrono::milliseconds(1));
    }
    guard.unlock();
    poller.Stop();
    poller.Post([&](CSkarvIO&) { ranAfterStop = true; });
  });

  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(ranOnTestThread);
  EXPECT_TRUE(sawOpenSensor);
  EXPECT_TRUE(sawAnswer);
  EXPECT_FALSE(ranAfterStop);
  EXPECT_NE(out.find("Sending command = A, data = 321"), std::string::npos) << out;
  ASSERT_GE(out.size(), kDoneLine.size());
  EXPECT_EQ(out.substr(out.size() - kDoneLine.size()), kDoneLine) << out;
}

TEST(PanelPollerWithoutController, ReadsNothingDropsOperationsAndStillEndsWithItsDoneLine) {
  int snapshots = 0;
  bool ran = false;
  const std::string out = Quietly([&] {
    CPanelPoller poller;
    poller.Subscribe([&](const T_PanelSnapshot&) { ++snapshots; });
    poller.Start();
    poller.Post([&](CSkarvIO&) { ran = true; });
    poller.Stop();
    poller.Stop();  // a second stop prints nothing more
  });
  EXPECT_EQ(snapshots, 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(out, kDoneLine);
}

}  // namespace
