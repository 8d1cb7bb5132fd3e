// The client as the operator runs it with --simulate, drawn off-screen: it
// starts, plots completed scans, records what the sensor sends and ends in
// order when a window is closed.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ClientRun.h"
#include "device/ChosenSensor.h"
#include "StopRequest.h"
#include "KivControl.h"
#include "KivView.h"
#include "SkarvIO.h"
#include "TestSupport.h"
#include "UsbLibrary.h"
#include "VirtualSensorSetup.h"

namespace {

using SorvaneClient::KivControl;
using SorvaneClient::KivView;

// An off-screen application, and a fresh working directory for the
// recording, for each test.
class Client : public ::testing::Test {
 protected:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    app = std::make_unique<QApplication>(argc, argv);
    char pattern[] = "/tmp/skarv-client-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    workDir = pattern;
    previous = std::filesystem::current_path();
    std::filesystem::current_path(workDir);
  }
  void TearDown() override {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(workDir);
    app.reset();
  }

  int argc = 1;
  char name[12] = "test_client";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> app;
  std::filesystem::path workDir;
  std::filesystem::path previous;
};

TEST_F(Client, RunsOnTheVirtualSensorPlotsRecordsAndEndsInOrder) {

  T_VirtualSensorSetup simulation = UseVirtualSensor();
  std::mutex sentMutex;
  std::vector<uint16_t> sent;
  simulation.bus->SetPacketObserver([&](uint32_t, uint8_t, const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> lock(sentMutex);
    for (size_t at = 28; at + 8 <= length; at += 8) sent.push_back(static_cast<uint16_t>(data[at] << 8 | data[at + 1]));
  });

  auto io = std::make_unique<CSkarvIO>();
  int scansSeen = 0;
  bool recordingAsked = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);

  auto capture = std::make_unique<CDiagCapture>();
  CStopRequest stop;
  stop.CatchSignals();
  const int result = RunClient(*app, *io, stop, [&](KivView& view, KivControl& control) {
    auto* poll = new QTimer(&view);
    QObject::connect(poll, &QTimer::timeout, &view, [&, poll] {
      if (!recordingAsked) {
        control.ButtonSaveFile->click();
        recordingAsked = true;
      }
      static const KivView::T_Scan* lastSeen = nullptr;
      if (view.LastScan() && view.LastScan().get() != lastSeen) {
        lastSeen = view.LastScan().get();
        ++scansSeen;
      }
      const bool enough = scansSeen >= 5 && control.ButtonSaveFile->text() == "File Writing";
      if (enough || std::chrono::steady_clock::now() > deadline) {
        poll->stop();
        view.close();
      }
    });
    poll->start(50);
  });
  const std::string out = capture->Take();
  capture.reset();
  io.reset();  // the controller's clean-up closes the recording
  simulation.bus->SetPacketObserver(nullptr);

  EXPECT_EQ(result, 0);
  EXPECT_GE(scansSeen, 5);
  const char* order[] = {" Starting up\n",           "Device opened successfully!\n", "Creating Threads...\n",
                         "Waiting for Threads...\n", "+++++++++++++++ SkarvIO dataLength = 1998\n",
                         "View Thread Done....\n",   "Control Thread Done....\n",     "Thread Done. Clean up...\n"};
  size_t at = 0;
  for (const char* line : order) {
    const size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line;
    at = found;
  }

  const std::vector<uint16_t> recorded = RecordedCounts("SkarvData-1.csv");
  std::vector<uint16_t> sentCounts;
  {
    std::lock_guard<std::mutex> lock(sentMutex);
    sentCounts = sent;
  }
  ASSERT_GT(recorded.size(), 1000u);
  // The recording starts somewhere in the stream and from there on holds
  // every sample the sensor sent, in order.
  const auto start = std::find(sentCounts.begin(), sentCounts.end(), recorded.front());
  ASSERT_NE(start, sentCounts.end());
  const size_t offset = static_cast<size_t>(start - sentCounts.begin());
  ASSERT_LE(offset + recorded.size(), sentCounts.size());
  for (size_t i = 0; i < recorded.size(); ++i) {
    ASSERT_EQ(recorded[i], sentCounts[offset + i]) << "line " << i + 2;
  }
}

// Three virtual sensors, the second chosen: its scans reach the view, its
// records the file, and both windows and the status line name it.
TEST_F(Client, OfThreeVirtualSensorsShowsAndRecordsTheChosenOneAlone) {

  T_VirtualSensorSetup simulation = UseVirtualSensor(3);
  ASSERT_EQ(simulation.sensors.size(), 3u);
  std::vector<const sim::CVirtualSensor*> sensors;
  for (const auto& sensor : simulation.sensors) sensors.push_back(sensor.get());
  auto io = std::make_unique<CSkarvIO>();
  io->ChooseSensor({"SKV00002", ""});
  std::vector<double> scanMedians;
  const KivView::T_Scan* lastSeen = nullptr;
  std::string viewTitle, controlTitle, statusLine;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto capture = std::make_unique<CDiagCapture>();
  CStopRequest stop;
  const int result = RunClient(*app, *io, stop, [&](KivView& view, KivControl& control) {
    control.ButtonSaveFile->click();
    auto* poll = new QTimer(&view);
    QObject::connect(poll, &QTimer::timeout, &view, [&, poll] {
      const KivView::T_Scan* scan = view.LastScan().get();
      if (scan && scan != lastSeen) {
        lastSeen = scan;
        std::vector<double> distances = scan->distances;
        scanMedians.push_back(Median(distances));
      }
      if (scanMedians.size() >= 5 || std::chrono::steady_clock::now() > deadline) {
        viewTitle = view.windowTitle().toStdString();
        controlTitle = control.windowTitle().toStdString();
        statusLine = control.LabelStatus->text().toStdString();
        poll->stop();
        view.close();
      }
    });
    poll->start(200);
  });
  capture.reset();
  io.reset();

  EXPECT_EQ(result, 0);
  ASSERT_FALSE(scanMedians.empty());
  for (double median : scanMedians) EXPECT_EQ(ClosestSensor(median, sensors), 1u) << median;
  EXPECT_EQ(ClosestSensor(MedianRecordedDistance("SkarvData-1.csv"), sensors), 1u);
  EXPECT_EQ(viewTitle, "KivView - SKV00002");
  EXPECT_EQ(controlTitle, "SKV00002");
  EXPECT_NE(statusLine.find("SKV00002"), std::string::npos) << statusLine;
}

}  // namespace
