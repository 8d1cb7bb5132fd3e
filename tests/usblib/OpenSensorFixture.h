#pragma once
// The virtual sensor opened through the layer, with helpers to send commands
// and to run isochronous reads of the data pipe.

#include <algorithm>
#include <array>
#include <vector>

#include "backends/VirtualSensorFixture.h"

constexpr uint8_t kCommandPipe = 0x01;
constexpr uint8_t kStatusPipe = 0x81;
constexpr uint8_t kDataPipe = 0x82;
constexpr int kPackets = 16;
constexpr int kPacketLength = 1023;

inline uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

class OpenSensorFixture : public VirtualSensorFixture {
 protected:
  void SetUp() override {
    VirtualSensorFixture::SetUp();
    handle = OpenSensor();
  }

  // Sends one command frame on the command pipe and waits for the write.
  void SendCommand(KOVL_POOL_HANDLE pool, uint8_t command, uint16_t data, uint16_t number) {
    std::array<uint8_t, 64> frame{};
    frame[0] = command;
    frame[1] = static_cast<uint8_t>(data >> 8);
    frame[2] = static_cast<uint8_t>(data);
    frame[3] = static_cast<uint8_t>(number >> 8);
    frame[4] = static_cast<uint8_t>(number);
    KOVL_HANDLE overlapped = Acquire(pool);
    ExpectQueued(UsbK_WritePipe(handle, kCommandPipe, frame.data(), frame.size(), nullptr, overlapped));
    unsigned length = 0;
    EXPECT_TRUE(OvlK_WaitAndRelease(overlapped, 100, &length)) << GetLastError();
    EXPECT_EQ(length, frame.size());
  }

  // One isochronous read of kPackets packets of the data pipe.
  struct IsoRead {
    KOVL_HANDLE overlapped = nullptr;
    PKISO_CONTEXT context = nullptr;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kPackets * kPacketLength);
  };

  void PrepareIso(IsoRead& read, KOVL_POOL_HANDLE pool) {
    read.overlapped = Acquire(pool);
    ASSERT_TRUE(IsoK_Init(&read.context, kPackets, 0));
    ASSERT_TRUE(IsoK_SetPackets(read.context, kPacketLength));
  }

  void QueueIso(IsoRead& read, uint32_t startFrame) {
    read.context->StartFrame = startFrame;
    ExpectQueued(UsbK_IsoReadPipe(handle, kDataPipe, read.buffer.data(), read.buffer.size(), read.overlapped,
                                  read.context));
  }

  static bool Done(const IsoRead& read, unsigned* length = nullptr) {
    unsigned ignored = 0;
    return OvlK_Wait(read.overlapped, 0, 0, length ? length : &ignored);
  }

  uint32_t CurrentFrame() {
    unsigned frame = 0;
    EXPECT_TRUE(UsbK_GetCurrentFrameNumber(handle, &frame));
    return frame;
  }

  // The counts of every sample entry of a completed read, packet by packet
  // with each packet's own length.
  static std::vector<uint16_t> Counts(const IsoRead& read) {
    std::vector<uint16_t> counts;
    for (int i = 0; i < kPackets; ++i) {
      const KISO_PACKET& packet = read.context->IsoPackets[i];
      const uint8_t* frame = read.buffer.data() + packet.Offset;
      for (unsigned at = 28; at + 8 <= packet.Length; at += 8) {
        counts.push_back(Word(frame + at));
      }
    }
    return counts;
  }

  KUSB_HANDLE handle = nullptr;
};
