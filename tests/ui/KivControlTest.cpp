// The control panel's fields, toggles and command boxes, fed with snapshots
// directly on the test thread.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QImage>
#include <QPushButton>
#include <atomic>
#include <memory>
#include <string>

#include "CommandTable.h"
#include "KivControl.h"
#include "QtApp.h"

namespace {

using SorvaneClient::KivControl;

class TestPanel : public KivControl {
 public:
  using KivControl::ConvStringToInt32;
  using KivControl::SetButtons;
  using KivControl::ShowStatus;
  using KivControl::UpdateFields;
};

class KivControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    panel = std::make_unique<TestPanel>();
    panel->SetMaxDistPtr(&plotDistance);
    panel->SetMaxWidthPtr(&plotWidth);
  }

  // Types `text` into `box` as the operator would, key by key.
  static void Type(QLineEdit* box, const QString& text) {
    for (const QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(box, &press);
    }
  }

  // Shows the panel as the active window with the focus on `widget`.
  void Focus(QWidget* widget) {
    panel->show();
    QApplication::setActiveWindow(panel.get());
    widget->setFocus();
    QCoreApplication::processEvents();
  }

  // A snapshot from a tick with a sensor open.
  static KivControl::T_Snapshot OpenSensor() {
    KivControl::T_Snapshot snapshot;
    snapshot.Status.SensorOpen = true;
    return snapshot;
  }

  static QColor TextColour(const QPushButton* button) { return button->palette().color(QPalette::ButtonText); }

  std::atomic<int32_t> plotDistance{120};
  std::atomic<int32_t> plotWidth{400};
  std::unique_ptr<TestPanel> panel;
};

TEST_F(KivControlTest, ReadingsShowTwoDecimalsAndFillTheirBarsAtTheMaximum) {
  KivControl::T_Snapshot snapshot = OpenSensor();
  snapshot.FilteredDist = 150.456;
  snapshot.CurDistance = 37.999;
  snapshot.SampleDeltTime = 2500;
  snapshot.Temperature = 25.678;
  snapshot.Accel[2] = -16384;
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->ValBoxFilteredDistance->text(), "150.46");
  EXPECT_EQ(panel->BarFilteredDistance->value(), 120);
  EXPECT_EQ(panel->ValBoxCurDistance->text(), "38.00");
  EXPECT_EQ(panel->BarCurDistance->value(), 37);
  EXPECT_EQ(panel->ValBoxCycleTime->text(), "2500");
  EXPECT_EQ(panel->BarCycleTime->value(), 2000);
  EXPECT_EQ(panel->ValBoxTemperature->text(), "25.68");
  EXPECT_EQ(panel->BarTemperature->value(), 25);
  EXPECT_EQ(panel->ValBoxAccelZ->text(), "-16384");

  // A reading below zero leaves its bar empty; a value longer than what may
  // be typed into its box is still shown in full.
  snapshot.Temperature = -12.5;
  snapshot.FilteredDist = 12345.678;
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->BarTemperature->value(), 0);
  EXPECT_EQ(panel->ValBoxFilteredDistance->text(), "12345.68");
  snapshot.FilteredDist = 1.0;
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->ValBoxFilteredDistance->maxLength(), 6);
}

// A bar repaints only the pixels its fill gained or lost; what the screen
// shows after many changes is the bar as painted afresh at its last value.
TEST_F(KivControlTest, BarsOnTheScreenShowTheirLastValueAfterSmallAndLargeChanges) {
  panel->show();
  QCoreApplication::processEvents();
  KivControl::T_Snapshot snapshot = OpenSensor();
  for (const double distance : {60.0, 60.1, 59.0, 119.0, 3.0, 3.2, 0.0, 80.0, 79.9, 81.5}) {
    snapshot.CurDistance = distance;
    panel->UpdateFields(snapshot);
    QCoreApplication::processEvents();
    const QImage screen = panel->screen()->grabWindow(panel->winId()).toImage();
    QProgressBar* bar = panel->BarCurDistance;
    const QImage shown = screen.copy(QRect(bar->mapTo(panel.get(), QPoint(0, 0)), bar->size()));
    EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB32),
              bar->grab().toImage().convertToFormat(QImage::Format_RGB32))
        << "at " << distance;
  }
}

TEST_F(KivControlTest, UnsetPlotLimitsKeepTheLimitedBarsEmptyUntilTheScanViewSetsThem) {
  plotDistance = 0;
  plotWidth = -5;  // taken as none; the bar keeps its minimum
  KivControl::T_Snapshot snapshot = OpenSensor();
  snapshot.FilteredDist = 50.0;
  snapshot.CurDistance = 60.0;
  snapshot.CurWidth = 200;
  panel->UpdateFields(snapshot);
  for (const QProgressBar* bar : {panel->BarFilteredDistance, panel->BarCurDistance, panel->BarWidth}) {
    EXPECT_EQ(bar->minimum(), 0) << bar->objectName().toStdString();
    EXPECT_EQ(bar->maximum(), 0) << bar->objectName().toStdString();
    EXPECT_EQ(bar->value(), 0) << bar->objectName().toStdString();
  }
  plotDistance = 120;
  plotWidth = 400;
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->BarCurDistance->maximum(), 120);
  EXPECT_EQ(panel->BarCurDistance->value(), 60);
  EXPECT_EQ(panel->BarWidth->maximum(), 400);
  EXPECT_EQ(panel->BarWidth->value(), 200);
}

// On the screen, a reading's box and bar after a refresh are what the
// widgets paint afresh, and the box's text is the value it shows.
TEST_F(KivControlTest, ARefreshShowsEachChangedReadingAsItsWidgetPaintsIt) {
  panel->show();
  KivControl::T_Snapshot snapshot = OpenSensor();
  snapshot.Temperature = 25.678;
  panel->UpdateFields(snapshot);
  QCoreApplication::processEvents();
  snapshot.Temperature = 31.25;
  panel->UpdateFields(snapshot);
  QCoreApplication::processEvents();
  const QImage screen = panel->screen()->grabWindow(panel->winId()).toImage();
  QLineEdit* box = panel->ValBoxTemperature;
  EXPECT_EQ(box->text(), "31.25");
  for (QWidget* widget : {static_cast<QWidget*>(box), static_cast<QWidget*>(panel->BarTemperature)}) {
    const QImage drawn = widget->grab().toImage().convertToFormat(screen.format());
    EXPECT_EQ(screen.copy(widget->geometry()), drawn) << widget->objectName().toStdString();
  }
}

TEST_F(KivControlTest, SettingBoxesChangeOnlyWithAFreshParameterBlock) {
  // Shown and painted, as when the sensor's values come.
  panel->show();
  QCoreApplication::processEvents();
  KivControl::T_Snapshot snapshot = OpenSensor();
  snapshot.Temperature = 25.678;
  const uint16_t block[7] = {100, 50, 200, 150, 1000, 1001, 65535};
  std::copy(block, block + 7, snapshot.Settings);
  panel->ValBoxFarGain->setText("77");
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->ValBoxFarGain->text(), "77");
  EXPECT_EQ(panel->ValBoxCalOffset->text(), "0");
  EXPECT_EQ(panel->ValBoxTemperature->text(), "25.68");

  snapshot.ParamsFresh = true;
  panel->UpdateFields(snapshot);
  size_t shown = 0;
  for (const T_Command& command : kCommands) {
    if (command.ValueIndex > 0) {
      const auto* box = panel->findChild<QLineEdit*>(QString::fromLatin1(command.Box));
      ASSERT_NE(box, nullptr) << command.Name;
      EXPECT_EQ(box->text(), QString::number(block[command.ValueIndex - 1])) << command.Name;
      ++shown;
    }
  }
  EXPECT_EQ(shown, 7u);
}

TEST_F(KivControlTest, TogglesFollowOnlyChangesOfState) {
  // The laser already off at the first tick leaves the initial captions.
  KivControl::T_Snapshot snapshot = OpenSensor();
  panel->SetButtons(snapshot);
  EXPECT_EQ(panel->ButtonLaserState->text(), "Laser Is Off");
  EXPECT_EQ(TextColour(panel->ButtonLaserState), QColor(Qt::black));
  EXPECT_EQ(panel->ButtonSaveFile->text(), "Start File Write");

  snapshot.LaserOn = true;
  snapshot.Writing = true;
  snapshot.FileName = "SkarvData-1.csv";
  panel->SetButtons(snapshot);
  EXPECT_EQ(panel->ButtonLaserState->text(), "Laser Is On");
  EXPECT_EQ(TextColour(panel->ButtonLaserState), QColor(Qt::red));
  EXPECT_EQ(panel->ButtonSaveFile->text(), "File Writing");
  EXPECT_EQ(TextColour(panel->ButtonSaveFile), QColor(Qt::red));
  EXPECT_EQ(panel->TextFileName->text(), "SkarvData-1.csv");
  EXPECT_GT(panel->TextFileName->width(), 0) << "sized to the name";

  // The name shown is the one current when the file was first seen open.
  snapshot.FileName = "SkarvData-2.csv";
  panel->SetButtons(snapshot);
  EXPECT_EQ(panel->TextFileName->text(), "SkarvData-1.csv");

  panel->SetButtons(OpenSensor());
  EXPECT_EQ(panel->ButtonLaserState->text(), "Laser Is Off");
  EXPECT_EQ(TextColour(panel->ButtonLaserState), QColor(Qt::black));
  EXPECT_EQ(panel->ButtonSaveFile->text(), "Start File Write");
  EXPECT_EQ(TextColour(panel->ButtonSaveFile), QColor(Qt::black));
  EXPECT_EQ(panel->TextFileName->text(), "");
}

TEST_F(KivControlTest, WithoutASensorTheReadingsAreBlankAndTheStatusSaysWhatIsAwaited) {
  KivControl::T_Snapshot snapshot = OpenSensor();
  snapshot.TemperatureIMU = 95.0;
  snapshot.LaserOn = true;
  snapshot.CurDistance = 60.0;
  panel->UpdateFields(snapshot);
  panel->SetButtons(snapshot);
  panel->ShowStatus(snapshot);
  EXPECT_EQ(panel->ValBoxTemperatureIMU->text(), "95.00");
  EXPECT_EQ(panel->ButtonLaserState->text(), "Laser Is On");

  // The sensor is unplugged: the controller's last values mean nothing now.
  snapshot.Status.SensorOpen = false;
  panel->UpdateFields(snapshot);
  panel->SetButtons(snapshot);
  panel->ShowStatus(snapshot);
  EXPECT_EQ(panel->ValBoxTemperatureIMU->text(), "");
  EXPECT_EQ(panel->ValBoxCurDistance->text(), "");
  EXPECT_EQ(panel->BarCurDistance->value(), 0);
  EXPECT_EQ(panel->ButtonLaserState->text(), "Laser: No Sensor");
  EXPECT_NE(TextColour(panel->ButtonLaserState), QColor(Qt::red));
  EXPECT_EQ(panel->LabelStatus->text(), "No sensor - waiting for USB E785:64F2");
  EXPECT_TRUE(panel->LabelStatus->isVisibleTo(panel.get()));
  EXPECT_GE(panel->LabelStatus->width(), 600) << "room for a whole line";
  EXPECT_LE(panel->StatusArea->geometry().bottom(), panel->height() - 1);

  // Back again, with the laser on.
  snapshot.Status.SensorOpen = true;
  panel->SetButtons(snapshot);
  EXPECT_EQ(panel->ButtonLaserState->text(), "Laser Is On");
}

TEST_F(KivControlTest, StatusLineShowsStreamingRecordingAndTheNewestMessage) {
  KivControl::T_Snapshot snapshot = OpenSensor();
  snapshot.Status.Serial = "SK-0042";
  snapshot.Status.Recording = true;
  snapshot.Status.FileName = "SkarvData-1.csv";
  snapshot.Status.FileBytes = 2048;
  for (int tick = 0; tick <= 10; ++tick) {
    snapshot.Status.RecordsProcessed = 4000u * static_cast<unsigned>(tick);
    snapshot.TakenAt = std::chrono::steady_clock::time_point{} + std::chrono::milliseconds(100 * tick);
    panel->ShowStatus(snapshot);
  }
  EXPECT_EQ(panel->LabelStatus->text(),
            "Sensor SK-0042 - streaming 40000 records/s | Recording SkarvData-1.csv, 2.0 kB");
  EXPECT_EQ(panel->LabelMessage->text(), "");

  // A refused entry shows at once; a later error from the controller
  // replaces it; the same error read again changes nothing.
  panel->ValBoxCloseGain->setText("x");
  panel->ButtonSetCloseGain->click();
  EXPECT_EQ(panel->LabelMessage->text(), "Close Gain: \"x\" is not a whole number from 0 to 65535 - not sent");
  panel->ShowStatus(snapshot);
  EXPECT_EQ(panel->LabelMessage->text(), "Close Gain: \"x\" is not a whole number from 0 to 65535 - not sent");
  snapshot.Status.LastError = "Command A not sent: the sensor did not take it";
  snapshot.Status.ErrorNumber = 1;
  panel->ShowStatus(snapshot);
  EXPECT_EQ(panel->LabelMessage->text(), "Last error: Command A not sent: the sensor did not take it");
  panel->ValBoxCloseGain->setText("-5");
  panel->ButtonSetCloseGain->click();
  panel->ShowStatus(snapshot);
  EXPECT_EQ(panel->LabelMessage->text(), "Close Gain: \"-5\" is not a whole number from 0 to 65535 - not sent");
}

TEST_F(KivControlTest, CommandBoxIsReadWithoutBeingChanged) {
  QLineEdit* box = panel->ValBoxThreshold;
  box->setText("12abc");
  EXPECT_FALSE(panel->ConvStringToInt32(box).has_value());
  EXPECT_EQ(box->text(), "12abc");
  box->setText(" 40 ");
  EXPECT_EQ(panel->ConvStringToInt32(box), 40);
  EXPECT_EQ(box->text(), " 40 ");
}

TEST_F(KivControlTest, ABoxBeingEditedIsNotOverwrittenUntilSentOrLeft) {
  KivControl::T_Snapshot snapshot = OpenSensor();
  snapshot.CurRotTime = 50;
  panel->UpdateFields(snapshot);
  ASSERT_EQ(panel->ValBoxRotTime->text(), "50");

  // Focus alone does not stop the refresh; typing does.
  Focus(panel->ValBoxRotTime);
  ASSERT_TRUE(panel->ValBoxRotTime->hasFocus());
  snapshot.CurRotTime = 51;
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->ValBoxRotTime->text(), "51");
  panel->ValBoxRotTime->selectAll();
  Type(panel->ValBoxRotTime, "1500");
  for (int tick = 0; tick < 10; ++tick) {
    snapshot.CurRotTime = 52 + tick;
    panel->UpdateFields(snapshot);
  }
  EXPECT_EQ(panel->ValBoxRotTime->text(), "1500");
  // Pressing its button keeps it: the focus moves there before the click.
  Focus(panel->ButtonSetScanRate);
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->ValBoxRotTime->text(), "1500");
  EXPECT_EQ(panel->ConvStringToInt32(panel->ValBoxRotTime), 1500) << "what Set Scan Rate sends";
  // Once sent, the box shows the readings again.
  panel->ButtonSetScanRate->click();
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->ValBoxRotTime->text(), "61");

  // A box left for another control is refreshed again.
  Focus(panel->ValBoxRotTime);
  Type(panel->ValBoxRotTime, "9");
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->ValBoxRotTime->text(), "619");
  Focus(panel->ValBoxFarGain);
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->ValBoxRotTime->text(), "61");

  // A setting box being edited keeps the typing even when a parameter block arrives.
  Focus(panel->ValBoxFarGain);
  panel->ValBoxFarGain->selectAll();
  Type(panel->ValBoxFarGain, "321");
  snapshot.ParamsFresh = true;
  snapshot.Settings[0] = 100;
  snapshot.Settings[1] = 50;
  panel->UpdateFields(snapshot);
  EXPECT_EQ(panel->ValBoxFarGain->text(), "321");
  EXPECT_EQ(panel->ValBoxCloseGain->text(), "50");
}

TEST_F(KivControlTest, EveryCommandOfTheTableHasItsControlsAndEverySettingRefusesWhatIsOutOfRange) {
  for (const T_Command& command : kCommands) {
    SCOPED_TRACE(command.Name);
    auto* button = panel->findChild<QPushButton*>(QString::fromLatin1(command.Button));
    ASSERT_NE(button, nullptr);
    if (!command.Box) {
      continue;
    }
    auto* box = panel->findChild<QLineEdit*>(QString::fromLatin1(command.Box));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("Set ") + QString::fromLatin1(command.Name));
    for (const int32_t outside : {command.Min - 1, command.Max + 1}) {
      box->setText(QString::number(outside));
      button->click();
      EXPECT_TRUE(KivControl::IsMarkedNotAccepted(box));
      EXPECT_EQ(panel->LabelMessage->text().toStdString(),
                std::string(command.Name) + ": \"" + std::to_string(outside) +
                    "\" is not a whole number from 0 to 65535 - not sent");
    }
    // The limits themselves are taken: the mark and the message go.
    for (const int32_t limit : {command.Min, command.Max}) {
      box->setText(QString::number(limit));
      button->click();
      EXPECT_FALSE(KivControl::IsMarkedNotAccepted(box));
      EXPECT_EQ(panel->LabelMessage->text(), "");
    }
  }
}

}  // namespace
