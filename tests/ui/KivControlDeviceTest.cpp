// The control panel running its worker against the controller over the
// virtual sensor: status shown, a command sent from a button, orderly stop.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "CommandTable.h"
#include "KivControl.h"
#include "QtApp.h"
#include "device/EndToEndFixture.h"

namespace {

using SorvaneClient::KivControl;

class KivControlOnSensor : public EndToEndFixture {
 protected:
  // Generous: the stream starts after 1.3 s of the sensor's clock, stepped
  // here 10 ms at a time on a machine that may be busy.
  static constexpr std::chrono::seconds kDataPathLimit{30};

  // One step of the data path, as the scan view's thread runs it, on 10 ms
  // of the sensor's clock. Call inside Quietly.
  void RunDataPath() {
    bus->Advance(10);
    controller->UpdateContiniousData();
  }

  // Gives the panel the controller and the plot limits its bars are drawn to.
  void TypeEverySettingAndCheckItArrives(uint16_t first, const std::function<void(QLineEdit&, QPushButton&)>& send);
  void Attach(KivControl& panel) {
    panel.SetSkarvIO(controller.get());
    panel.SetMaxDistPtr(&plotDistance);
    panel.SetMaxWidthPtr(&plotWidth);
  }

  std::atomic<int32_t> plotDistance{120};
  std::atomic<int32_t> plotWidth{400};
};

std::optional<sim::CVirtualSensor::ReceivedCommand> FindCommand(const sim::CVirtualSensor& sensor, uint8_t code) {
  for (const auto& command : sensor.ReceivedCommands()) {
    if (command.command == code) return command;
  }
  return std::nullopt;
}

TEST_F(KivControlOnSensor, OnlyWholeNumbersFrom0To65535AreSentFromTheWorker) {
  TestApp();
  const std::string out = Quietly([&] {
    KivControl panel;
    Attach(panel);
    panel.Start();

    // The first ticks ask for the device's status and show its settings
    // and laser; after that the command pipe is free.
    EXPECT_TRUE(PumpUntil([&] { return panel.ValBoxFarGain->text() == "100"; }));
    EXPECT_TRUE(PumpUntil([&] {
      RunDataPath();
      return panel.ButtonLaserState->text() == "Laser Is On";
    }, kDataPathLimit));
    WaitIdle(controller->mCmdPipe);

    // Each refused entry stays in its box, marked, with the reason shown.
    for (const char* typed : {"12abc", "", "-1", "70000"}) {
      panel.ValBoxFarGain->setText(typed);
      panel.ButtonSetFarGain->click();
      EXPECT_EQ(panel.ValBoxFarGain->text(), typed);
      EXPECT_TRUE(KivControl::IsMarkedNotAccepted(panel.ValBoxFarGain)) << '"' << typed << '"';
      EXPECT_EQ(panel.LabelMessage->text().toStdString(),
                std::string("Far Gain: \"") + typed + "\" is not a whole number from 0 to 65535 - not sent");
    }
    // Commands run in order on the worker: had any refused entry been sent,
    // it would be the first A the sensor received.
    panel.ValBoxFarGain->setText("600");
    EXPECT_FALSE(KivControl::IsMarkedNotAccepted(panel.ValBoxFarGain)) << "a new text withdraws the mark";
    panel.ValBoxFarGain->setText("-1");
    panel.ButtonSetFarGain->click();
    panel.ValBoxFarGain->setText(" 600 ");
    panel.ButtonSetFarGain->click();
    EXPECT_FALSE(KivControl::IsMarkedNotAccepted(panel.ValBoxFarGain));
    EXPECT_EQ(panel.LabelMessage->text(), "") << "the refusal is answered by the value sent";
    EXPECT_TRUE(PumpUntil([&] { return FindCommand(*sensor, 'A').has_value(); }));
    const auto sent = FindCommand(*sensor, 'A');
    if (sent) {
      EXPECT_EQ(sent->data, 600);
    }
    EXPECT_TRUE(PumpUntil([&] { return sensor->Values()[1] == 600; }));
    panel.Stop();
  });
  EXPECT_EQ(out.find("Sending command = A, data = 0"), std::string::npos) << out;
  EXPECT_NE(out.find("Sending command = A, data = 600"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - std::min<size_t>(out.size(), 24)), "Control Thread Done....\n") << out;
}

TEST_F(KivControlOnSensor, ATypedScanRateSurvivesTheRefreshesAndIsWhatIsSent) {
  TestApp();
  const std::string out = Quietly([&] {
    KivControl panel;
    Attach(panel);
    panel.show();
    QApplication::setActiveWindow(&panel);
    panel.Start();
    EXPECT_TRUE(PumpUntil([&] { return panel.ValBoxFarGain->text() == "100"; }));
    WaitIdle(controller->mCmdPipe);

    panel.ValBoxRotTime->setFocus();
    panel.ValBoxRotTime->selectAll();
    for (const char c : std::string("1500")) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(c)));
      QApplication::sendEvent(panel.ValBoxRotTime, &press);
    }
    // About ten refreshes of the rotation time's read-out.
    PumpUntil([] { return false; }, std::chrono::milliseconds(1000));
    EXPECT_EQ(panel.ValBoxRotTime->text(), "1500");
    panel.ButtonSetScanRate->click();
    EXPECT_TRUE(PumpUntil([&] { return FindCommand(*sensor, 'R').has_value(); }));
    const auto sent = FindCommand(*sensor, 'R');
    if (sent) {
      EXPECT_EQ(sent->data, 1500);
    }
    panel.Stop();
  });
  EXPECT_NE(out.find("Sending command = R, data = 1500"), std::string::npos) << out;
}

TEST_F(KivControlOnSensor, StatusLineFollowsTheSensorInAndOut) {
  TestApp();
  Quietly([&] {
    KivControl panel;
    Attach(panel);
    panel.Start();
    // Before the data path has looked at the sensor, there is none.
    EXPECT_TRUE(PumpUntil([&] { return panel.LabelStatus->text() == "No sensor - waiting for USB E785:64F2"; }));
    EXPECT_EQ(panel.ValBoxTemperatureIMU->text(), "");

    EXPECT_TRUE(PumpUntil([&] {
      RunDataPath();
      return panel.LabelStatus->text().contains(" - streaming ");
    }, kDataPathLimit));
    EXPECT_TRUE(panel.LabelStatus->text().startsWith("Sensor ")) << panel.LabelStatus->text().toStdString();
    EXPECT_NE(panel.ValBoxTemperatureIMU->text(), "");

    bus->Unplug(sensor);
    EXPECT_TRUE(PumpUntil([&] {
      RunDataPath();
      return panel.LabelStatus->text() == "No sensor - waiting for USB E785:64F2";
    }, kDataPathLimit));
    EXPECT_TRUE(PumpUntil([&] { return panel.ValBoxTemperatureIMU->text().isEmpty(); }));
    EXPECT_EQ(panel.ButtonLaserState->text(), "Laser: No Sensor");
    panel.Stop();
  });
}

// Types a value of its own (first + the entry's index) into every setting
// box of the command table, sends it with `send(box, button)`, and checks
// that the sensor received each setting with its value.
void KivControlOnSensor::TypeEverySettingAndCheckItArrives(
    uint16_t first, const std::function<void(QLineEdit&, QPushButton&)>& send) {
  TestApp();
  std::vector<const T_Command*> settings;
  for (const T_Command& command : kCommands) {
    if (command.Box) settings.push_back(&command);
  }
  const auto typed = [first](size_t i) { return static_cast<uint16_t>(first + i); };
  const std::string out = Quietly([&] {
    KivControl panel;
    Attach(panel);
    panel.Start();
    EXPECT_TRUE(PumpUntil([&] { return panel.ValBoxFarGain->text() == "100"; }));
    WaitIdle(controller->mCmdPipe);

    for (size_t i = 0; i < settings.size(); ++i) {
      auto* box = panel.findChild<QLineEdit*>(QString::fromLatin1(settings[i]->Box));
      auto* button = panel.findChild<QPushButton*>(QString::fromLatin1(settings[i]->Button));
      ASSERT_TRUE(box && button) << settings[i]->Name;
      box->setText(QString::number(typed(i)));
      send(*box, *button);
    }
    EXPECT_TRUE(PumpUntil([&] {
      for (const T_Command* setting : settings) {
        if (!FindCommand(*sensor, setting->Letter)) return false;
      }
      return true;
    }));
    panel.Stop();
  });
  for (size_t i = 0; i < settings.size(); ++i) {
    const auto sent = FindCommand(*sensor, settings[i]->Letter);
    ASSERT_TRUE(sent.has_value()) << settings[i]->Name << out;
    EXPECT_EQ(sent->data, typed(i)) << settings[i]->Name;
  }
}

TEST_F(KivControlOnSensor, EverySettingButtonSendsItsBoxToTheSensor) {
  TypeEverySettingAndCheckItArrives(1000, [](QLineEdit&, QPushButton& button) { button.click(); });
}

TEST_F(KivControlOnSensor, EnterInASettingBoxSendsItsValue) {
  TypeEverySettingAndCheckItArrives(2000, [](QLineEdit& box, QPushButton&) {
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&box, &enter);
  });
}

}  // namespace
