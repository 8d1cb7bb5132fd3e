#pragma once
// The controller over the libusb backend, with the sensor emulated behind
// usbdevfs on a real-time bus, run in a fresh working directory so that its
// recording files land there. Time is real: the data path is updated every
// 10 ms with real sleeps, as the scan view's timer does.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "LibusbBackend.h"
#include "SensorTestbed.h"
#include "SkarvIO.h"
#include "TestSupport.h"
#include "UsbLibrary.h"

class LibusbFixture : public ::testing::Test {
 protected:
  static constexpr size_t kHeaderBytes = sim::CVirtualSensor::kHeaderBytes;
  static constexpr size_t kEntryBytes = sim::CVirtualSensor::kEntryBytes;

  void SetUp() override {
    ASSERT_TRUE(UnderUmockdev()) << "run this program under umockdev-wrapper";
    char pattern[] = "/tmp/skarv-libusb-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    workDir = pattern;
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(workDir);

    testbed = std::make_unique<CSensorTestbed>();
    bus = testbed->Bus();
    sensor = testbed->Sensor();
    // Every sample the sensor puts into a host transfer, in order, and the
    // lengths of the packets that carried them.
    bus->SetPacketObserver([this](uint32_t, uint8_t, const uint8_t* data, size_t length) {
      std::lock_guard<std::mutex> lock(sentMutex);
      packetLengths.insert(length);
      for (size_t at = kHeaderBytes; at + kEntryBytes <= length; at += kEntryBytes) {
        sent.push_back(static_cast<uint16_t>(data[at] << 8 | data[at + 1]));
      }
    });
    ASSERT_TRUE(testbed->Plug());
    auto backend = std::make_shared<CLibusbBackend>();
    ASSERT_TRUE(backend->Usable());
    UsbLib_SetBackend(backend);
    BeforeStart();
    controller = std::make_unique<CSkarvIO>();
    started = Quietly([&] {
      controller->Initialize(10);
      EXPECT_TRUE(UsbLib_FlushHotplug());
    });
  }

  // Runs once the sensor is plugged in, before the controller starts.
  virtual void BeforeStart() {}

  void TearDown() override {
    Quietly([&] { controller.reset(); });
    UsbLib_SetBackend(nullptr);
    if (bus) bus->SetPacketObserver(nullptr);
    testbed.reset();
    if (!previousDir.empty()) std::filesystem::current_path(previousDir);
    std::error_code ignored;
    if (!workDir.empty()) std::filesystem::remove_all(workDir, ignored);
  }

  // Runs the data path, an update every 10 ms, until `done` holds after an
  // update or `timeout` passes; returns what it printed.
  std::string RunUntil(const std::function<bool(const std::string& printed)>& done,
                       std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    std::string printed;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto next = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
      printed += Quietly([&] { controller->UpdateContiniousData(); });
      if (done(printed)) break;
      next += std::chrono::milliseconds(10);
      std::this_thread::sleep_until(next);
    }
    return printed;
  }

  std::string Run(std::chrono::milliseconds time) {
    return RunUntil([](const std::string&) { return false; }, time);
  }

  // Records the stream from the next update on for `time`, then stops;
  // returns what the updates printed.
  std::string Record(std::chrono::milliseconds time) {
    controller->RequestRecording(true);
    std::string printed = Run(time);
    controller->RequestRecording(false);
    printed += Run(std::chrono::milliseconds(30));
    return printed;
  }

  // Polls the status pipe as the control panel does until the parameters
  // of the last command are back, at most `polls` times.
  bool PollStatus(int polls, std::string* printed = nullptr) {
    bool fresh = false;
    const std::string out = Quietly([&] {
      for (int i = 0; i < polls && !fresh; ++i) fresh = controller->HandleStatusPipe();
    });
    if (printed) *printed += out;
    return fresh;
  }

  // Waits until a pipe's write is over (it is awaited on a thread of its own).
  static bool WaitIdle(const CUSBPipe& pipe) {
    return WaitFor([&] { return !pipe.mActive.load(); }, std::chrono::seconds(5));
  }

  std::vector<uint16_t> Sent() {
    std::lock_guard<std::mutex> lock(sentMutex);
    return sent;
  }

  // Runs the data path until the controller decodes what the sensor sends
  // now: its last record changes and is one of the samples sent after the
  // first `from` ones. Counts wrap, so the change matters: a stale record may
  // match a sample sent later.
  std::string RunUntilDecoding(size_t from) {
    const int stale = controller->mRecordCount;
    return RunUntil([&](const std::string&) { return controller->mRecordCount != stale && Decodes(from); });
  }

  bool Decodes(size_t from) {
    const auto last = static_cast<uint16_t>(controller->mRecordCount);
    std::lock_guard<std::mutex> lock(sentMutex);
    return sent.size() > from && std::find(sent.begin() + static_cast<long>(from), sent.end(), last) != sent.end();
  }

  // Times the client fell behind the stream (see CEmulatedUsbDevice).
  unsigned FellBehind() const { return testbed->Device()->Count().isoLate; }

  std::set<size_t> PacketLengths() {
    std::lock_guard<std::mutex> lock(sentMutex);
    return packetLengths;
  }

  std::unique_ptr<CSensorTestbed> testbed;
  std::shared_ptr<sim::CVirtualBus> bus;
  std::shared_ptr<sim::CVirtualSensor> sensor;
  std::unique_ptr<CSkarvIO> controller;
  std::string started;  // what Initialize printed
  std::filesystem::path workDir;
  std::filesystem::path previousDir;
  std::mutex sentMutex;
  std::vector<uint16_t> sent;
  std::set<size_t> packetLengths;
};
