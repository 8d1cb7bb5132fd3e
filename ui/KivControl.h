#pragma once
// The control panel: the sensor's current readings with bars for the main
// ones, the device's setting values whenever a fresh parameter block has
// arrived, the laser and recording toggles, and a button per setting.
//
// Threads: the widgets live on the GUI thread. The panel's poller, a worker
// thread with a 100 ms tick, does everything that touches the controller:
// every tick it reads the getters, services the status pipe and hands a
// snapshot of what it read to the panel, which passes it to the GUI thread;
// every command button's operation runs there too (its box is read and
// checked on the GUI thread). The GUI thread never waits for the device.
//
// Operator input: a setting is sent only for a whole number from 0 to 65535;
// a refused entry stays in its box, marked, with the reason on the message
// line. A box the operator is typing into is not overwritten by the refresh
// until its value is sent or the focus moves on.

#include <QWidget>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "DeviceStatus.h"
#include "PanelPoller.h"
#include "SharedWake.h"
#include "StatusText.h"

class CSkarvIO;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
struct T_Command;

namespace SorvaneClient {

class KivControl : public QWidget {
 public:
  // What one tick read from the controller, in the order it was read.
  using T_Snapshot = T_PanelSnapshot;

  static constexpr int kTickMs = CPanelPoller::kTickMs;

  KivControl();
  ~KivControl() override;
  KivControl(const KivControl&) = delete;
  KivControl& operator=(const KivControl&) = delete;

  // Set before Start; none of them is owned.
  void SetSkarvIO(CSkarvIO* theMainIO);
  void SetMaxDistPtr(std::atomic<int32_t>* theDistPtr);
  void SetMaxWidthPtr(std::atomic<int32_t>* theWidthPtr);
  // Snapshots are then applied at the scan view's next wake-up of the GUI
  // thread when one is due soon, rather than on a wake-up of their own.
  void SetSharedWake(ui::CSharedWake* wake) { mSharedWake = wake; }

  // Starts and stops the controller work; Stop waits for the tick or command
  // in progress and prints the worker's done line. The controller may go only
  // after Stop.
  void Start();
  void Stop();

  // Called when the operator closes the window.
  void SetOnClose(std::function<void()> onClose);
  // Called on the GUI thread with the serial number of the sensor open
  // whenever it changes ("" once none is), after the panel's own title took it.
  void SetOnSerialShown(std::function<void(const std::string&)> onSerial) { mOnSerialShown = std::move(onSerial); }
  // Called when the operator asks for the trends window (the Trends button).
  void SetOnTrends(std::function<void()> onTrends) { mOnTrends = std::move(onTrends); }

  QPushButton* ButtonLaserState;
  QLabel* LabelFilteredDistance;
  QLabel* LabelStandardDev;
  QLabel* LabelCurentDistance;
  QLabel* LabelWidth;
  QLineEdit* ValBoxFilteredDistance;
  QProgressBar* BarFilteredDistance;
  QPushButton* ButtonUpdateAllParameters;
  QLabel* LabelTemperature;
  QPushButton* ButtonSaveFile;
  QLineEdit* ValBoxStdDev;
  QProgressBar* BarStdDev;
  QPushButton* ButtonSetFarGain;
  QLineEdit* ValBoxFarGain;
  QPushButton* ButtonSetCloseGain;
  QLineEdit* ValBoxCloseGain;
  QPushButton* ButtonSetThreshold;
  QLineEdit* ValBoxThreshold;
  QPushButton* ButtonSetAPDVoltage;
  QLineEdit* ValBoxAPDVoltage;
  QLineEdit* ValBoxCurDistance;
  QProgressBar* BarCurDistance;
  QLineEdit* ValBoxWidth;
  QProgressBar* BarWidth;
  QLineEdit* ValBoxRotTime;
  QProgressBar* BarCurRotTime;
  QLineEdit* ValBoxTemperature;
  QProgressBar* BarTemperature;
  QLabel* LabelCycleTime;
  QLineEdit* ValBoxCycleTime;
  QProgressBar* BarCycleTime;
  QLineEdit* ValBoxTemperatureIMU;
  QLabel* LabelLaserPower;
  QLineEdit* ValBoxLaserPower;
  QLabel* LabelSupplyVoltage;
  QLineEdit* ValBoxSupplyVoltage;
  QLabel* LabelAcceleromenter;
  QLineEdit* ValBoxAccelX;
  QLineEdit* ValBoxAccelY;
  QLineEdit* ValBoxAccelZ;
  QLabel* LabelGyroscope;
  QLineEdit* ValBoxGyroX;
  QLineEdit* ValBoxGyroY;
  QLineEdit* ValBoxGyroZ;
  QLabel* labelMagnetometer;
  QLineEdit* ValBoxMagnX;
  QLineEdit* ValBoxMagnY;
  QLineEdit* ValBoxMagnZ;
  QPushButton* ButtonSetScanRate;
  QPushButton* ButtonSetCalDistGain;
  QLineEdit* ValBoxCalDistGain;
  QPushButton* ButtonSetCalWidthGain;
  QLineEdit* ValBoxCalWidthGain;
  QPushButton* ButtonSetCalOffset;
  QLineEdit* ValBoxCalOffset;
  QPushButton* ButtonSaveParams;
  QLabel* label1;
  QLabel* TextFileName;
  QPushButton* ButtonTrends;
  // The status area along the bottom: the sensor's state, then the last
  // error or refused entry in plain words.
  QWidget* StatusArea;
  QLabel* LabelStatus;
  QLabel* LabelMessage;

  // A box whose entry was refused is marked until its text changes or a good
  // value from it is sent.
  static bool IsMarkedNotAccepted(const QLineEdit* box);

 protected:
  // All three apply a snapshot on the GUI thread: the boxes and bars, the
  // two toggles' captions, and the status area. While no sensor is open the
  // readings are blank and the laser toggle neutral: there is nothing to show.
  void UpdateFields(const T_Snapshot& snapshot);
  void SetButtons(const T_Snapshot& snapshot);
  void ShowStatus(const T_Snapshot& snapshot);

  // A command box's text as a 32-bit integer, or none when it cannot be
  // read; the box is left as the operator typed it.
  std::optional<int32_t> ConvStringToInt32(QLineEdit* textIn);

  // Sends a setting of the command table the value in its box when it is a
  // whole number in the setting's range; otherwise sends nothing, marks the
  // box and says why.
  void SendSetting(const T_Command& command, QLineEdit* box);

  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void ConnectButtons();
  // The poller's snapshot subscriber: runs on its thread and hands the
  // snapshot to the GUI thread.
  void ControlTimer_Tick(const T_Snapshot& snapshot);
  void ApplySnapshot(const T_Snapshot& snapshot);
  // The buttons' handlers; each setting's handler sends its box's value.
  void LaserStateControl_Click();
  void ButtonSaveFile_Click();
  void ButtonRestoreParams_Click();
  void ButtonSaveParams_Click();
  void ButtonSetFarGain_Click();
  void ButtonSetCloseGain_Click();
  void ButtonSetThreshold_Click();
  void ButtonSetAPDVoltage_Click();
  void ButtonSetScanRate_Click();
  void ButtonSetCalDistGain_Click();
  void ButtonSetCalWidthGain_Click();
  void ButtonSetCalOffset_Click();
  // Runs `operation` on the controller, on the worker thread.
  void PostToController(std::function<void(CSkarvIO&)> operation);
  // Finds each setting's button and box by their object names in the
  // command table: a fresh parameter block is shown in the boxes, and Enter
  // in a box presses its button.
  void ConnectSettings();
  void BuildStatusArea();
  void ShowReadings(const T_Snapshot& snapshot);
  void ShowNoReadings();
  static void MarkNotAccepted(QLineEdit* box, bool notAccepted);
  // Shows `text` on the message line; `about` is the box it refers to, if any.
  void ShowMessage(const QString& text, const QLineEdit* about);
  // Writes a box unless the operator is editing it.
  void ShowText(QLineEdit* box, const QString& text);
  void ShowText(QLineEdit* box, const QString& text, int typedLength);
  bool BeingEdited(QLineEdit* box);
  void EndEdit(QLineEdit* box);

  CSkarvIO* mSkarvIO = nullptr;
  // How much the layout grew for the font (1 for the desktop's usual one).
  double mLayoutScale = 1.0;
  bool mPrevWritingState = false;
  bool mPrevLaserOnState = false;
  std::atomic<int32_t>* mMaxDistPtr = nullptr;
  std::atomic<int32_t>* mMaxWidthPtr = nullptr;
  std::function<void()> mOnClose;
  const QLineEdit* mMessageAbout = nullptr;
  // The laser toggle shows neither state, as no sensor is open.
  bool mLaserNeutral = false;
  ui::CStatusText mStatusText;
  uint32_t mShownErrorNumber = 0;
  std::string mShownSerial;
  std::function<void(const std::string&)> mOnSerialShown;
  std::function<void()> mOnTrends;
  // The settings of a fresh parameter block that arrived while the panel
  // was off the screen.
  std::optional<std::array<uint16_t, 7>> mSkippedParams;
  // Each setting box and the button that sends it.
  std::unordered_map<const QLineEdit*, const QPushButton*> mSendingButtons;
  // The boxes typed into since the panel last wrote them. A set rather than
  // a property of each box: it is asked of every box at every refresh.
  std::unordered_set<const QLineEdit*> mEditedBoxes;
  // The settings of the command table with their button and box.
  struct T_SettingControls {
    const T_Command* Command;
    QPushButton* Button;
    QLineEdit* Box;
  };
  std::vector<T_SettingControls> mSettings;
  // The 100 ms refresh, on the worker thread that also runs the commands.
  CPanelPoller ControlTimer;
  ui::CSharedWake* mSharedWake = nullptr;
};

}  // namespace SorvaneClient
