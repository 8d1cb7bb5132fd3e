#pragma once
// A port with the sensor's three pipes registered, over the virtual sensor.
// The test pipes decode what they receive themselves: the data pipe keeps
// the count of every sample entry, packet by packet, the interrupt pipes the
// bytes of every completed read.

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "UsbInteruptPipe.h"
#include "UsbIsocPipe.h"
#include "UsbPort.h"
#include "TestSupport.h"
#include "backends/VirtualSensorFixture.h"

class CountingIsocPipe : public CUSBIsocPipe {
 public:
  int ProcessPipeData(uint8_t* data, int length) override {
    int found = 0;
    for (int at = 28; at + 8 <= length; at += 8) {
      counts.push_back(static_cast<uint16_t>(data[at] << 8 | data[at + 1]));
      ++found;
    }
    return found;
  }
  std::vector<uint16_t> counts;
};

class RecordingInteruptPipe : public CUSBInteruptPipe {
 public:
  int ProcessPipeData(uint8_t* data, int length) override {
    reads.emplace_back(data, data + length);
    return 1;
  }
  // Sends a five-byte command frame and waits until its write is over.
  void Send(uint8_t command, uint16_t value, uint16_t number) {
    std::memset(mBuffer.get(), 0, mTransferLength);
    const uint8_t frame[5] = {command, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value),
                              static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)};
    std::memcpy(mBuffer.get(), frame, sizeof frame);
    StartNextWrite();
    WaitIdle();
  }
  void WaitIdle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (mActive.load() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  std::vector<std::vector<uint8_t>> reads;
};

class PortFixture : public VirtualSensorFixture {
 protected:
  void SetUp() override {
    VirtualSensorFixture::SetUp();
    cmdPipe.Initialize(0x01, 1);
    statusPipe.Initialize(0x81, 1);
    dataPipe.Initialize(0x82, 16, 10);
    port = std::make_unique<CUSBPort>();
    port->AddPipe(&cmdPipe);
    port->AddPipe(&statusPipe);
    port->AddPipe(&dataPipe);
  }

  void TearDown() override {
    Quietly([&] { port.reset(); });
    VirtualSensorFixture::TearDown();
  }

  // Initialises the port and waits for the hot-plug monitor's first report
  // (the sensor present at start), returning what both printed.
  std::string OpenPort() {
    return Quietly([&] {
      port->Initialize(0xE785, 0x64F2);
      EXPECT_TRUE(UsbLib_FlushHotplug());
    });
  }

  // Lets `frames` pass, polling the data pipe every 10 frames as the
  // controller's update does.
  void Stream(uint32_t frames) {
    for (uint32_t done = 0; done < frames; done += 10) {
      bus->Advance(10);
      dataPipe.GetPipeData();
    }
  }

  static void ExpectContinuous(const std::vector<uint16_t>& counts) {
    for (size_t i = 1; i < counts.size(); ++i) {
      ASSERT_EQ(static_cast<uint16_t>(counts[i - 1] + 1), counts[i]) << "at sample " << i;
    }
  }

  RecordingInteruptPipe cmdPipe;
  RecordingInteruptPipe statusPipe;
  CountingIsocPipe dataPipe;
  std::unique_ptr<CUSBPort> port;
};
