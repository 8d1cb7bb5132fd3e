// The data path on one thread while another reads every getter, sends
// commands, polls the status pipe and toggles recording, with the sensor
// unplugged and plugged back in between. Meant above all for the
// ThreadSanitizer build, where any data race fails the run.

#include <atomic>
#include <chrono>
#include <thread>

#include "EndToEndFixture.h"

namespace {

using EndToEndConcurrency = EndToEndFixture;

TEST_F(EndToEndConcurrency, PanelAndDataPathRunTogetherThroughReplugs) {
  std::atomic<bool> stop{false};
  std::atomic<int> updates{0};
  std::atomic<int> polls{0};
  const std::string out = Quietly([&] {
    std::thread dataPath([&] {
      while (!stop) {
        bus->Advance(10);
        controller->UpdateContiniousData();
        (void)controller->mFoundScanSize;
        ++updates;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    std::thread panel([&] {
      double sink = 0;
      for (int round = 0; !stop; ++round) {
        sink += controller->GetCurDistance() + controller->GetFilteredDist() + controller->GetStdDev() +
                controller->GetTemperature() + controller->GetTemperatureIMU() + controller->GetSupplyVoltage();
        sink += controller->GetCurWidth() + controller->GetCurRotTime() + controller->GetSampleDeltTime() +
                controller->GetLaserPower() + controller->GetAccelX() + controller->GetAccelY() +
                controller->GetAccelZ() + controller->GetGyroX() + controller->GetGyroY() + controller->GetGyroZ() +
                controller->GetMagnX() + controller->GetMagnY() + controller->GetMagnZ() + controller->LaserIsOn();
        sink += static_cast<double>(controller->GetCurrentFileName().size());
        sink += controller->mSaveFile.load() != nullptr;
        if (controller->HandleStatusPipe()) {
          sink += controller->mParameters.Values[1];
        }
        controller->SetFarGain(round);
        if (round % 5 == 0) {
          controller->RequestRecording(round % 10 == 0);
        }
        ++polls;
      }
      EXPECT_GE(sink, 0.0);
    });
    for (int cycle = 0; cycle < 3; ++cycle) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      bus->Unplug(sensor);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      bus->Plug(sensor);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    dataPath.join();
    panel.join();
  });
  EXPECT_GT(updates.load(), 50);
  EXPECT_GT(polls.load(), 5);
  EXPECT_GE(std::count(out.begin(), out.end(), '\n'), 1);
  EXPECT_NE(out.find("Removed cleanup start"), std::string::npos);
}

}  // namespace
