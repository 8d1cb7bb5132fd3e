#pragma once
// A controller over the virtual sensor on the manual clock, run in a fresh
// working directory so that its recording files land there.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <chrono>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "SkarvIO.h"
#include "TestSupport.h"
#include "backends/VirtualSensorFixture.h"

class EndToEndFixture : public VirtualSensorFixture {
 protected:
  void SetUp() override {
    VirtualSensorFixture::SetUp();
    char pattern[] = "/tmp/skarv-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    workDir = pattern;
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(workDir);
    // Every sample the sensor puts into a host transfer, in order.
    bus->SetPacketObserver([this](uint32_t, uint8_t, const uint8_t* data, size_t length) {
      std::lock_guard<std::mutex> lock(sentMutex);
      for (size_t at = 28; at + 8 <= length; at += 8) {
        sent.push_back(static_cast<uint16_t>(data[at] << 8 | data[at + 1]));
      }
    });
    controller = std::make_unique<CSkarvIO>();
    Quietly([&] {
      controller->Initialize(10);
      ASSERT_TRUE(UsbLib_FlushHotplug());
    });
  }

  void TearDown() override {
    Quietly([&] { controller.reset(); });
    bus->SetPacketObserver(nullptr);
    VirtualSensorFixture::TearDown();
    std::filesystem::current_path(previousDir);
    std::filesystem::remove_all(workDir);
  }

  // Runs the data path for `ms` of bus time, one update every 10 ms; returns
  // what it printed.
  std::string Run(uint32_t ms, int* lastScan = nullptr) {
    return Quietly([&] {
      for (uint32_t t = 0; t < ms; t += 10) {
        bus->Advance(10);
        const int points = controller->UpdateContiniousData();
        if (points > 2 && lastScan) *lastScan = points;
      }
    });
  }

  // Waits until a pipe's write is over (its completion is awaited on a
  // thread of its own).
  static void WaitIdle(const CUSBPipe& pipe) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pipe.mActive.load() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  std::vector<uint16_t> Sent() {
    std::lock_guard<std::mutex> lock(sentMutex);
    return sent;
  }

  std::unique_ptr<CSkarvIO> controller;
  std::filesystem::path workDir;
  std::filesystem::path previousDir;
  std::mutex sentMutex;
  std::vector<uint16_t> sent;
};
