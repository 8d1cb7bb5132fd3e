// The control panel running its worker against the controller over the
// virtual sensor: status shown, a command sent from a button, orderly stop.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <optional>

#include "KivControl.h"
#include "QtApp.h"
#include "device/EndToEndFixture.h"

namespace {

using KivControlOnSensor = EndToEndFixture;

std::optional<sim::CVirtualSensor::ReceivedCommand> FindCommand(const sim::CVirtualSensor& sensor, uint8_t code) {
  for (const auto& command : sensor.ReceivedCommands()) {
    if (command.command == code) return command;
  }
  return std::nullopt;
}

TEST_F(KivControlOnSensor, UnreadableFarGainIsSentAsZeroFromTheWorker) {
  TestApp();
  std::atomic<int32_t> plotDistance{120};
  std::atomic<int32_t> plotWidth{400};
  const std::string out = Quietly([&] {
    KivControl panel;
    panel.SetSkarvIO(controller.get());
    panel.SetMaxDistPtr(&plotDistance);
    panel.SetMaxWidthPtr(&plotWidth);
    panel.Start();

    // The first ticks ask for the device's status and show its settings
    // and laser; after that the command pipe is free.
    EXPECT_TRUE(PumpUntil([&] { return panel.ValBoxFarGain->text() == "100"; }));
    EXPECT_TRUE(PumpUntil([&] { return panel.ButtonLaserState->text() == "Laser Is On"; }));
    WaitIdle(controller->mCmdPipe);

    panel.ValBoxFarGain->setText("12abc");
    panel.ButtonSetFarGain->click();
    EXPECT_EQ(panel.ValBoxFarGain->text(), "0");
    EXPECT_TRUE(PumpUntil([&] { return FindCommand(*sensor, 'A').has_value(); }));
    const auto sent = FindCommand(*sensor, 'A');
    if (sent) {
      EXPECT_EQ(sent->data, 0);
    }
    EXPECT_EQ(sensor->Values()[1], 0);
    panel.Stop();
  });
  EXPECT_NE(out.find("Sending command = A, data = 0"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - std::min<size_t>(out.size(), 24)), "Control Thread Done....\n") << out;
}

}  // namespace
