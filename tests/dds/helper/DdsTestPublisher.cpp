// The publishing side of the DDS tests, run as a process of its own: the
// virtual sensor on the manual clock, the controller recording every record
// to SkarvData-1.csv in the working directory, and the DDS publisher on the
// data path. Once every topic has the readers asked for, it runs the given
// number of 10 ms updates, letting the readers catch up every few, then
// waits until they have acknowledged all of it and ends. Given a start
// file, it also waits for that file to appear before the first update: the
// readers' side of a match can come later than the writers', and a
// volatile reader misses what was written before it.
//
//   dds-test-publisher NAMESPACE UPDATES READERS_PER_TOPIC [START_FILE]

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "DataPath.h"
#include "DdsPublisher.h"
#include "Diagnostics.h"
#include "SkarvIO.h"
#include "UsbLibrary.h"
#include "VirtualBus.h"
#include "VirtualSensor.h"
#include "VirtualUsbBackend.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s NAMESPACE UPDATES READERS_PER_TOPIC [START_FILE]\n", argv[0]);
    return 2;
  }
  SetDiagQuiet(true);
  auto bus = std::make_shared<sim::CVirtualBus>(sim::CVirtualBus::Clock::eManual, 5000);
  auto sensor = std::make_shared<sim::CVirtualSensor>();
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(bus));
  bus->Plug(sensor);
  int status = 0;
  {
    auto controller = std::make_unique<CSkarvIO>();
    controller->Initialize(10);
    UsbLib_FlushHotplug();

    skarvdds::T_DdsOptions options;
    options.publish = true;
    options.ns = argv[1];
    options.frameId = "test_frame";
    skarvdds::CDdsPublisher publisher(options);
    CDataPath path(*controller);
    publisher.Attach(path);
    if (!publisher.WaitForReaders(static_cast<uint32_t>(std::stoul(argv[3])), std::chrono::seconds(30))) {
      std::fprintf(stderr, "no readers\n");
      return 3;
    }
    if (argc == 5) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!std::filesystem::exists(argv[4])) {
        if (std::chrono::steady_clock::now() > deadline) {
          std::fprintf(stderr, "no start file\n");
          return 3;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    controller->RequestRecording(true);
    const int updates = std::stoi(argv[2]);
    // The ROS topics keep the last 10 samples: a sample lost on the way is
    // sent again only while the writer still holds it. The updates run far
    // faster than the sensor's, so every 5 (one IMU sample and at most one
    // scan each) the readers are let catch up, as readers that keep up do.
    constexpr int kUpdatesPerAcknowledgement = 5;
    for (int i = 0; i < updates; ++i) {
      bus->Advance(CDataPath::kTickMs);
      path.Step();
      if ((i + 1) % kUpdatesPerAcknowledgement == 0) {
        publisher.Drain();
        if (!publisher.WaitForAcknowledgements(std::chrono::seconds(30))) {
          std::fprintf(stderr, "not acknowledged\n");
          status = 4;
        }
      }
    }
    controller->RequestRecording(false);
    path.Step();
    publisher.Drain();
    if (!publisher.WaitForAcknowledgements(std::chrono::seconds(30))) {
      std::fprintf(stderr, "not acknowledged\n");
      status = 4;
    }
    if (publisher.DroppedUpdates() != 0) {
      status = 5;
    }
  }
  UsbLib_SetBackend(nullptr);
  std::printf("published\n");
  return status;
}
