#include "KivControl.h"

#include <QCloseEvent>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPalette>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>
#include <algorithm>
#include <array>
#include <iterator>
#include <utility>
#include <vector>

#include "CommandTable.h"
#include "FontFit.h"
#include "FrameCacheStyle.h"
#include "SkarvIO.h"
#include "ValueFormat.h"

namespace {

constexpr int kClientWidth = 684;
constexpr int kClientHeight = 522;
// The status area along the bottom, below the other controls: two lines.
constexpr int kStatusHeight = 42;
constexpr QRgb kStreamingBackground = qRgb(0xDF, 0xF3, 0xDF);
constexpr QRgb kWaitingBackground = qRgb(0xFF, 0xEE, 0xC2);
constexpr int kCaptionPoints = 12;
constexpr int kFileNamePoints = 9;
// What the operator may type into the two filtered readings' boxes.
constexpr int kTypedReadingLength = 6;

// A flat bar: a frame and the filled part in the highlight colour. Drawn
// directly rather than through the style, as it repaints at every tick. A bar
// whose maximum is 0 (the plot limits before the scan view has set them)
// shows empty rather than as a busy indicator.
class CPanelBar : public QProgressBar {
 public:
  explicit CPanelBar(QWidget* parent) : QProgressBar(parent) { setTextVisible(false); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    painter.fillRect(rect(), palette().base());
    const int filled = Filled();
    if (filled > 0) {
      painter.fillRect(QRect(frame.left() + 1, frame.top() + 1, filled, frame.height() - 1), palette().highlight());
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame);
  }

 private:
  // How many pixels of the bar's inside are filled.
  int Filled() const {
    const int span = maximum() - minimum();
    if (span <= 0 || value() <= minimum()) {
      return 0;
    }
    const int inner = width() - 2;
    return static_cast<int>(static_cast<int64_t>(inner) * (value() - minimum()) / span);
  }
};

void SetCaption(QPushButton* button, const char* text, const QColor& colour) {
  button->setText(QString::fromLatin1(text));
  QPalette palette = button->palette();
  palette.setColor(QPalette::ButtonText, colour);
  button->setPalette(palette);
}


QString TwoDecimals(double value) { return QString::fromStdString(ui::FormatF2(value)); }

// A progress bar may repaint at once, on its own, when its value changes.
// With its updates off while the value is set, turning them on again marks
// the bar for the refresh's one paint of every bar and box that changed.
void SetBarValue(QProgressBar* bar, int value) {
  if (bar->value() == value) {
    return;
  }
  bar->setUpdatesEnabled(false);
  bar->setValue(value);
  bar->setUpdatesEnabled(true);
}

void ShowOnBar(QProgressBar* bar, double reading) { SetBarValue(bar, ui::BarValue(reading, bar->maximum())); }

void SetLimit(QProgressBar* bar, const std::atomic<int32_t>* limit) {
  if (limit) {
    const int maximum = std::max<int32_t>(0, limit->load());
    if (bar->maximum() != maximum) {
      bar->setRange(0, maximum);
    }
  }
}

}  // namespace

namespace SorvaneClient {

KivControl::KivControl() {
  ui::UseUnshapedText(this);
  ControlTimer.Subscribe([this](const T_Snapshot& snapshot) { ControlTimer_Tick(snapshot); });
  BuildControls();
  ConnectButtons();
  mPrevWritingState = false;
  mPrevLaserOnState = false;
}

KivControl::~KivControl() { Stop(); }

void KivControl::SetSkarvIO(CSkarvIO* theMainIO) {
  mSkarvIO = theMainIO;
  ControlTimer.SetSkarvIO(theMainIO);
}
void KivControl::SetMaxDistPtr(std::atomic<int32_t>* theDistPtr) { mMaxDistPtr = theDistPtr; }
void KivControl::SetMaxWidthPtr(std::atomic<int32_t>* theWidthPtr) { mMaxWidthPtr = theWidthPtr; }
void KivControl::SetOnClose(std::function<void()> onClose) { mOnClose = std::move(onClose); }

void KivControl::Start() { ControlTimer.Start(); }
void KivControl::Stop() { ControlTimer.Stop(); }

void KivControl::BuildControls() {
  setObjectName(QStringLiteral("KivControl"));
  setWindowTitle(QString());
  // Every position and size grows with the font; each control then gets at
  // least the room its own text needs.
  mLayoutScale = ui::LayoutScale(font());
  const double k = mLayoutScale;
  setFixedSize(ui::Scaled(kClientWidth, k), ui::Scaled(kClientHeight, k) + ui::Scaled(kStatusHeight, k));

  std::vector<QWidget*> tabOrder;
  auto place = [&](QWidget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    tabOrder.push_back(widget);
  };
  auto at = [k](int x, int y, int w, int h) { return ui::Scaled(QRect(x, y, w, h), k); };
  auto button = [&](const char* name, const char* text, int x, int y, int w, int h) {
    auto* widget = new QPushButton(QString::fromLatin1(text), this);
    place(widget, name);
    ui::FitButton(widget, at(x, y, w, h));
    return widget;
  };
  auto caption = [&](const char* name, const char* text, int x, int y, int w, int h) {
    auto* widget = new QLabel(QString::fromLatin1(text), this);
    widget->setFont(ui::DesktopFont(kCaptionPoints));
    place(widget, name);
    ui::FitCaption(widget, at(x, y, w, h));
    return widget;
  };
  auto box = [&](const char* name, const char* text, int x, int y, int w, int h) {
    auto* widget = new QLineEdit(QString::fromLatin1(text), this);
    place(widget, name);
    ui::FitBox(widget, at(x, y, w, h));
    return widget;
  };
  auto bar = [&](const char* name, int maximum, int x, int y, int w, int h) {
    auto* widget = new CPanelBar(this);
    widget->setRange(0, maximum);
    widget->setValue(0);
    place(widget, name);
    widget->setGeometry(at(x, y, w, h));
    return widget;
  };

  // In the order of tabbing.
  ButtonLaserState = button("ButtonLaserState", "Laser Is Off", 284, 16, 183, 23);
  LabelFilteredDistance = caption("LabelFilteredDistance", "Filtered Distance", 20, 58, 129, 20);
  LabelStandardDev = caption("LabelStandardDev", "Standard Dev", 42, 87, 107, 20);
  LabelCurentDistance = caption("LabelCurentDistance", "Current Distance", 20, 116, 129, 20);
  LabelWidth = caption("LabelWidth", "Width", 99, 145, 50, 20);
  ValBoxFilteredDistance = box("ValBoxFilteredDistance", "", 162, 58, 100, 20);
  BarFilteredDistance = bar("BarFilteredDistance", 1000, 284, 57, 373, 23);
  ButtonUpdateAllParameters = button("ButtonUpdateAllParameters", "Restore Parameters", 40, 16, 183, 23);
  LabelTemperature = caption("LabelTemperature", "Temperature", 49, 203, 100, 20);
  ButtonSaveFile = button("ButtonSaveFile", "Start File Write", 44, 300, 103, 23);
  ValBoxStdDev = box("ValBoxStdDev", "", 162, 87, 100, 20);
  BarStdDev = bar("BarStdDev", 100, 284, 86, 373, 23);
  ButtonSetFarGain = button("ButtonSetFarGain", "Set Far Gain", 44, 381, 103, 23);
  ValBoxFarGain = box("ValBoxFarGain", "0", 163, 382, 100, 20);
  ButtonSetCloseGain = button("ButtonSetCloseGain", "Set Close Gain", 44, 410, 103, 23);
  ValBoxCloseGain = box("ValBoxCloseGain", "0", 163, 411, 100, 20);
  ButtonSetThreshold = button("ButtonSetThreshold", "Set Threshold", 44, 439, 103, 23);
  ValBoxThreshold = box("ValBoxThreshold", "0", 163, 440, 100, 20);
  ButtonSetAPDVoltage = button("ButtonSetAPDVoltage", "Set APD Voltage", 44, 468, 103, 23);
  ValBoxAPDVoltage = box("ValBoxAPDVoltage", "0", 163, 469, 100, 20);
  ValBoxCurDistance = box("ValBoxCurDistance", "", 162, 116, 100, 20);
  BarCurDistance = bar("BarCurDistance", 100, 284, 115, 373, 23);
  ValBoxWidth = box("ValBoxWidth", "", 162, 145, 100, 20);
  BarWidth = bar("BarWidth", 100, 284, 144, 373, 23);
  ValBoxRotTime = box("ValBoxRotTime", "", 163, 341, 100, 20);
  BarCurRotTime = bar("BarCurRotTime", 10000, 285, 340, 373, 23);
  ValBoxTemperature = box("ValBoxTemperature", "", 162, 203, 100, 20);
  BarTemperature = bar("BarTemperature", 180, 401, 202, 256, 23);
  LabelCycleTime = caption("LabelCycleTime", "Cycle Time", 64, 174, 85, 20);
  ValBoxCycleTime = box("ValBoxCycleTime", "", 162, 174, 100, 20);
  BarCycleTime = bar("BarCycleTime", 2000, 284, 173, 373, 23);
  ValBoxTemperatureIMU = box("ValBoxTemperatureIMU", "", 284, 203, 100, 20);
  LabelLaserPower = caption("LabelLaserPower", "Laser Power", 52, 231, 97, 20);
  ValBoxLaserPower = box("ValBoxLaserPower", "", 162, 231, 100, 20);
  LabelSupplyVoltage = caption("LabelSupplyVoltage", "Supply Voltage", 33, 257, 116, 20);
  ValBoxSupplyVoltage = box("ValBoxSupplyVoltage", "", 162, 257, 100, 20);
  LabelAcceleromenter = caption("LabelAcceleromenter", "Accelerometer", 280, 231, 112, 20);
  ValBoxAccelX = box("ValBoxAccelX", "", 401, 231, 81, 20);
  ValBoxAccelY = box("ValBoxAccelY", "", 488, 231, 81, 20);
  ValBoxAccelZ = box("ValBoxAccelZ", "", 575, 231, 81, 20);
  LabelGyroscope = caption("LabelGyroscope", "Gyroscope", 280, 257, 86, 20);
  ValBoxGyroX = box("ValBoxGyroX", "", 401, 257, 81, 20);
  ValBoxGyroY = box("ValBoxGyroY", "", 488, 257, 81, 20);
  ValBoxGyroZ = box("ValBoxGyroZ", "", 575, 257, 81, 20);
  labelMagnetometer = caption("labelMagnetometer", "Magnetometer", 280, 283, 113, 20);
  ValBoxMagnX = box("ValBoxMagnX", "", 401, 283, 81, 20);
  ValBoxMagnY = box("ValBoxMagnY", "", 488, 283, 81, 20);
  ValBoxMagnZ = box("ValBoxMagnZ", "", 575, 283, 81, 20);
  ButtonSetScanRate = button("ButtonSetScanRate", "Set Scan Rate", 44, 340, 103, 23);
  ButtonSetCalDistGain = button("ButtonSetCalDistGain", "Set Cal Dist Gain", 321, 381, 111, 23);
  ValBoxCalDistGain = box("ValBoxCalDistGain", "0", 455, 382, 100, 20);
  ButtonSetCalWidthGain = button("ButtonSetCalWidthGain", "Set Cal Width Gain", 321, 410, 111, 23);
  ValBoxCalWidthGain = box("ValBoxCalWidthGain", "0", 455, 411, 100, 20);
  ButtonSetCalOffset = button("ButtonSetCalOffset", "Set Cal Offset", 321, 439, 111, 23);
  ValBoxCalOffset = box("ValBoxCalOffset", "0", 455, 440, 100, 20);
  ButtonSaveParams = button("ButtonSaveParams", "Save Params", 321, 468, 111, 23);
  label1 = caption("label1", "Skarv rotating laser range sensor with IMU", 285, 500, 395, 20);
  TextFileName = caption("TextFileName", "", 160, 301, 0, 15);
  TextFileName->setFont(ui::DesktopFont(kFileNamePoints));
  TextFileName->move(ui::Scaled(160, k), ui::Scaled(301, k));
  TextFileName->adjustSize();
  ButtonTrends = button("ButtonTrends", "Trends", 490, 16, 103, 23);

  BuildStatusArea();

  ValBoxFilteredDistance->setMaxLength(kTypedReadingLength);
  ValBoxStdDev->setMaxLength(kTypedReadingLength);
  SetCaption(ButtonLaserState, "Laser Is Off", Qt::black);
  SetCaption(ButtonSaveFile, "Start File Write", Qt::black);

  QWidget* previous = nullptr;
  for (QWidget* widget : tabOrder) {
    if (widget->focusPolicy() == Qt::NoFocus) {
      continue;
    }
    if (previous) {
      setTabOrder(previous, widget);
    }
    previous = widget;
  }

  // Made after the boxes, so that as a child of the panel it is deleted
  // after them.
  auto* boxStyle = new ui::CFrameCacheStyle;
  boxStyle->setParent(this);
  for (QLineEdit* box : findChildren<QLineEdit*>()) {
    box->setStyle(boxStyle);
    // The style's pictures cover the whole box, corners too, so the panel
    // beneath is not painted first whenever a box changes.
    box->setAttribute(Qt::WA_OpaquePaintEvent);
  }
}

void KivControl::BuildStatusArea() {
  StatusArea = new QWidget(this);
  StatusArea->setObjectName(QStringLiteral("StatusArea"));
  const double k = mLayoutScale;
  StatusArea->setGeometry(0, ui::Scaled(kClientHeight, k), width(), ui::Scaled(kStatusHeight, k));
  StatusArea->setAutoFillBackground(true);
  auto line = [&](const char* name, int y) {
    auto* label = new QLabel(StatusArea);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(ui::Scaled(8, k), ui::Scaled(y, k), width() - ui::Scaled(16, k),
                       ui::Scaled(kStatusHeight / 2 - 2, k));
    return label;
  };
  LabelStatus = line("LabelStatus", 2);
  LabelMessage = line("LabelMessage", kStatusHeight / 2);
  QPalette palette = LabelMessage->palette();
  palette.setColor(QPalette::WindowText, QColor(0xB0, 0, 0));
  LabelMessage->setPalette(palette);
}

void KivControl::ShowStatus(const T_Snapshot& snapshot) {
  mStatusText.Update(snapshot.Status, snapshot.TakenAt);
  LabelStatus->setText(QString::fromStdString(mStatusText.SensorLine()));
  if (snapshot.Status.Serial != mShownSerial) {
    mShownSerial = snapshot.Status.Serial;
    setWindowTitle(QString::fromStdString(ui::WindowTitle("", mShownSerial)));
    if (mOnSerialShown) {
      mOnSerialShown(mShownSerial);
    }
  }
  // The background tells the state at a glance: green while records flow,
  // amber while there is no sensor or its records have stopped.
  QColor background = palette().color(QPalette::Window);
  switch (mStatusText.State()) {
    case ui::eSensorState::kStreaming:
      background = QColor(kStreamingBackground);
      break;
    case ui::eSensorState::kNoSensor:
    case ui::eSensorState::kStalled:
      background = QColor(kWaitingBackground);
      break;
    case ui::eSensorState::kStarting:
      break;
  }
  QPalette areaPalette = StatusArea->palette();
  if (areaPalette.color(QPalette::Window) != background) {
    areaPalette.setColor(QPalette::Window, background);
    StatusArea->setPalette(areaPalette);
  }
  // The newest message wins: a new error from the controller replaces a
  // refused entry, and a later refusal replaces the error.
  if (snapshot.Status.ErrorNumber != mShownErrorNumber) {
    mShownErrorNumber = snapshot.Status.ErrorNumber;
    ShowMessage(QString::fromStdString(mStatusText.ErrorLine()), nullptr);
  }
}

void KivControl::ShowMessage(const QString& text, const QLineEdit* about) {
  LabelMessage->setText(text);
  mMessageAbout = about;
}

bool KivControl::IsMarkedNotAccepted(const QLineEdit* box) { return box->property("notAccepted").toBool(); }

void KivControl::MarkNotAccepted(QLineEdit* box, bool notAccepted) {
  if (IsMarkedNotAccepted(box) == notAccepted) {
    return;
  }
  box->setProperty("notAccepted", notAccepted);
  box->setStyleSheet(notAccepted ? QStringLiteral("QLineEdit { background-color: #ffb4b4; }") : QString());
}

// The operator is editing a box when it was typed into since the panel last
// wrote it and the focus is still on it or on the button that sends it.
// Once the focus has gone elsewhere the edit is over and refreshing resumes.
bool KivControl::BeingEdited(QLineEdit* box) {
  if (mEditedBoxes.count(box) == 0) {
    return false;
  }
  const auto sender = mSendingButtons.find(box);
  if (box->hasFocus() || (sender != mSendingButtons.end() && sender->second->hasFocus())) {
    return true;
  }
  EndEdit(box);
  return false;
}

void KivControl::EndEdit(QLineEdit* box) { mEditedBoxes.erase(box); }

void KivControl::ShowText(QLineEdit* box, const QString& text) {
  if (box->text() != text && !BeingEdited(box)) {
    box->setText(text);
  }
}

// The maximum length bounds only what the operator types: a longer value
// that the panel writes is shown in full.
void KivControl::ShowText(QLineEdit* box, const QString& text, int typedLength) {
  if (BeingEdited(box)) {
    return;
  }
  const int maxLength = std::max(typedLength, static_cast<int>(text.size()));
  if (box->maxLength() != maxLength) {
    box->setMaxLength(maxLength);
  }
  ShowText(box, text);
}

void KivControl::ConnectButtons() {
  // Typing marks a box as being edited; the panel's own writes do not.
  for (QLineEdit* box : findChildren<QLineEdit*>()) {
    connect(box, &QLineEdit::textEdited, this, [this, box] { mEditedBoxes.insert(box); });
  }
  connect(ButtonLaserState, &QPushButton::clicked, this, &KivControl::LaserStateControl_Click);
  connect(ButtonSaveFile, &QPushButton::clicked, this, &KivControl::ButtonSaveFile_Click);
  connect(ButtonUpdateAllParameters, &QPushButton::clicked, this, &KivControl::ButtonRestoreParams_Click);
  connect(ButtonSaveParams, &QPushButton::clicked, this, &KivControl::ButtonSaveParams_Click);
  connect(ButtonTrends, &QPushButton::clicked, this, [this] {
    if (mOnTrends) mOnTrends();
  });
  connect(ButtonSetFarGain, &QPushButton::clicked, this, &KivControl::ButtonSetFarGain_Click);
  connect(ButtonSetCloseGain, &QPushButton::clicked, this, &KivControl::ButtonSetCloseGain_Click);
  connect(ButtonSetThreshold, &QPushButton::clicked, this, &KivControl::ButtonSetThreshold_Click);
  connect(ButtonSetAPDVoltage, &QPushButton::clicked, this, &KivControl::ButtonSetAPDVoltage_Click);
  connect(ButtonSetScanRate, &QPushButton::clicked, this, &KivControl::ButtonSetScanRate_Click);
  connect(ButtonSetCalDistGain, &QPushButton::clicked, this, &KivControl::ButtonSetCalDistGain_Click);
  connect(ButtonSetCalWidthGain, &QPushButton::clicked, this, &KivControl::ButtonSetCalWidthGain_Click);
  connect(ButtonSetCalOffset, &QPushButton::clicked, this, &KivControl::ButtonSetCalOffset_Click);
  ConnectSettings();
}

void KivControl::ConnectSettings() {
  for (const T_Command& command : kCommands) {
    if (!command.Box) {
      continue;  // the laser toggle, Restore and Save read no box
    }
    auto* button = findChild<QPushButton*>(QString::fromLatin1(command.Button));
    auto* box = findChild<QLineEdit*>(QString::fromLatin1(command.Box));
    Q_ASSERT(button && box);
    mSettings.push_back({&command, button, box});
    mSendingButtons[box] = button;
    // Enter in a setting's box presses the button that sends it.
    connect(box, &QLineEdit::returnPressed, button, &QPushButton::click);
    // Any change of the text withdraws the mark: it is no longer what was refused.
    connect(box, &QLineEdit::textChanged, this, [box] { MarkNotAccepted(box, false); });
  }
}

void KivControl::LaserStateControl_Click() {
  PostToController([](CSkarvIO& io) { io.LaserIsOn() ? io.LaserOff() : io.LaserOn(); });
}

void KivControl::ButtonSaveFile_Click() {
  // The controller opens or closes the file at its next continuous update.
  PostToController([](CSkarvIO& io) {
    const bool open = io.mSaveFile.load() != nullptr;
    io.RequestRecording(!open);
  });
}

void KivControl::ButtonRestoreParams_Click() {
  PostToController([](CSkarvIO& io) { io.RestoreParams(); });
}

void KivControl::ButtonSaveParams_Click() {
  PostToController([](CSkarvIO& io) { io.SaveParams(); });
}

void KivControl::ButtonSetFarGain_Click() { SendSetting(kCommandOf<&CSkarvIO::SetFarGain>, ValBoxFarGain); }
void KivControl::ButtonSetCloseGain_Click() { SendSetting(kCommandOf<&CSkarvIO::SetCloseGain>, ValBoxCloseGain); }
void KivControl::ButtonSetThreshold_Click() { SendSetting(kCommandOf<&CSkarvIO::SetThreshold>, ValBoxThreshold); }
void KivControl::ButtonSetAPDVoltage_Click() { SendSetting(kCommandOf<&CSkarvIO::SetAPDVoltage>, ValBoxAPDVoltage); }
void KivControl::ButtonSetScanRate_Click() { SendSetting(kCommandOf<&CSkarvIO::SetRotationRate>, ValBoxRotTime); }
void KivControl::ButtonSetCalDistGain_Click() {
  SendSetting(kCommandOf<&CSkarvIO::SetCalDistGain>, ValBoxCalDistGain);
}
void KivControl::ButtonSetCalWidthGain_Click() {
  SendSetting(kCommandOf<&CSkarvIO::SetCalWidthGain>, ValBoxCalWidthGain);
}
void KivControl::ButtonSetCalOffset_Click() { SendSetting(kCommandOf<&CSkarvIO::SetCalOffset>, ValBoxCalOffset); }

void KivControl::SendSetting(const T_Command& command, QLineEdit* box) {
  const std::optional<int32_t> value = ConvStringToInt32(box);
  if (!value || *value < command.Min || *value > command.Max) {
    MarkNotAccepted(box, true);
    ShowMessage(QStringLiteral("%1: \"%2\" is not a whole number from %3 to %4 - not sent")
                    .arg(QString::fromLatin1(command.Name), box->text(), QString::number(command.Min),
                         QString::number(command.Max)),
                box);
    return;
  }
  MarkNotAccepted(box, false);
  EndEdit(box);  // sent: the box shows the sensor's values again
  if (mMessageAbout == box) {
    ShowMessage(QString(), nullptr);  // the refusal is answered
  }
  const int32_t sent = *value;
  const auto setter = command.Setter;
  PostToController([setter, sent](CSkarvIO& io) { (io.*setter)(sent); });
}

void KivControl::PostToController(std::function<void(CSkarvIO&)> operation) {
  ControlTimer.Post(std::move(operation));
}

std::optional<int32_t> KivControl::ConvStringToInt32(QLineEdit* textIn) {
  int32_t value = 0;
  if (!ui::ParseInt32(textIn->text().toStdString(), value)) {
    return std::nullopt;
  }
  return value;
}

void KivControl::ControlTimer_Tick(const T_Snapshot& snapshot) {
  // The window outlives its poller, which is stopped before the window goes.
  ui::CSharedWake::Task apply = [this, snapshot] { ApplySnapshot(snapshot); };
  const auto post = [this](ui::CSharedWake::Task task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
  };
  if (mSharedWake) {
    mSharedWake->Post(std::move(apply), post);
  } else {
    post(std::move(apply));
  }
}

// A panel that is shown but not on the screen (minimised, or not exposed as
// where the window system reports it covered) keeps
// only the newest snapshot, and shows it at the first tick after it is
// back; a fresh parameter block among those it skipped is carried over, as
// the setting boxes show only fresh ones.
void KivControl::ApplySnapshot(const T_Snapshot& snapshot) {
  T_Snapshot merged = snapshot;
  if (mSkippedParams && !merged.ParamsFresh) {
    merged.ParamsFresh = true;
    std::copy(std::begin(*mSkippedParams), std::end(*mSkippedParams), std::begin(merged.Settings));
  }
  const QWindow* window = windowHandle();
  if (isVisible() && window && (!window->isExposed() || isMinimized())) {
    if (merged.ParamsFresh) {
      mSkippedParams.emplace();
      std::copy(std::begin(merged.Settings), std::end(merged.Settings), mSkippedParams->begin());
    }
    return;
  }
  mSkippedParams.reset();
  UpdateFields(merged);
  SetButtons(merged);
  ShowStatus(merged);
}

void KivControl::ShowReadings(const T_Snapshot& snapshot) {
  ShowText(ValBoxFilteredDistance, TwoDecimals(snapshot.FilteredDist), kTypedReadingLength);
  ShowOnBar(BarFilteredDistance, snapshot.FilteredDist);
  ShowText(ValBoxStdDev, TwoDecimals(snapshot.StdDev), kTypedReadingLength);
  ShowOnBar(BarStdDev, snapshot.StdDev);
  ShowText(ValBoxCurDistance, TwoDecimals(snapshot.CurDistance));
  ShowOnBar(BarCurDistance, snapshot.CurDistance);
  ShowText(ValBoxWidth, QString::number(snapshot.CurWidth));
  ShowOnBar(BarWidth, snapshot.CurWidth);
  ShowText(ValBoxCycleTime, QString::number(snapshot.SampleDeltTime));
  ShowOnBar(BarCycleTime, snapshot.SampleDeltTime);
  ShowText(ValBoxTemperature, TwoDecimals(snapshot.Temperature));
  ShowOnBar(BarTemperature, snapshot.Temperature);
  ShowText(ValBoxTemperatureIMU, TwoDecimals(snapshot.TemperatureIMU));
  ShowText(ValBoxLaserPower, QString::number(snapshot.LaserPower));
  ShowText(ValBoxSupplyVoltage, TwoDecimals(snapshot.SupplyVoltage));
  ShowText(ValBoxRotTime, QString::number(snapshot.CurRotTime));
  ShowOnBar(BarCurRotTime, snapshot.CurRotTime);
  QLineEdit* const imuBoxes[] = {ValBoxAccelX, ValBoxAccelY, ValBoxAccelZ, ValBoxGyroX, ValBoxGyroY,
                                     ValBoxGyroZ,  ValBoxMagnX,  ValBoxMagnY,  ValBoxMagnZ};
  const int32_t imuValues[] = {snapshot.Accel[0], snapshot.Accel[1], snapshot.Accel[2],
                               snapshot.Gyro[0],  snapshot.Gyro[1],  snapshot.Gyro[2],
                               snapshot.Magn[0],  snapshot.Magn[1],  snapshot.Magn[2]};
  for (size_t i = 0; i < std::size(imuBoxes); ++i) {
    ShowText(imuBoxes[i], QString::number(imuValues[i]));
  }
}

void KivControl::ShowNoReadings() {
  for (QLineEdit* box : {ValBoxFilteredDistance, ValBoxStdDev, ValBoxCurDistance, ValBoxWidth, ValBoxCycleTime,
                             ValBoxTemperature, ValBoxTemperatureIMU, ValBoxLaserPower, ValBoxSupplyVoltage,
                             ValBoxRotTime, ValBoxAccelX, ValBoxAccelY, ValBoxAccelZ, ValBoxGyroX, ValBoxGyroY,
                             ValBoxGyroZ, ValBoxMagnX, ValBoxMagnY, ValBoxMagnZ}) {
    ShowText(box, QString());
  }
  for (QProgressBar* bar : {BarFilteredDistance, BarStdDev, BarCurDistance, BarWidth, BarCycleTime, BarTemperature,
                            BarCurRotTime}) {
    SetBarValue(bar, bar->minimum());
  }
}

void KivControl::UpdateFields(const T_Snapshot& snapshot) {
  SetLimit(BarFilteredDistance, mMaxDistPtr);
  SetLimit(BarCurDistance, mMaxDistPtr);
  SetLimit(BarWidth, mMaxWidthPtr);
  if (!snapshot.Status.SensorOpen) {
    ShowNoReadings();
  } else {
    ShowReadings(snapshot);
  }

  // Otherwise the setting boxes keep what the operator typed.
  if (snapshot.ParamsFresh) {
    for (const T_SettingControls& setting : mSettings) {
      const int index = setting.Command->ValueIndex;
      if (index > 0) {
        ShowText(setting.Box, QString::number(static_cast<unsigned>(snapshot.Settings[index - 1])));
      }
    }
  }
}

void KivControl::SetButtons(const T_Snapshot& snapshot) {
  if (snapshot.Writing != mPrevWritingState) {
    if (snapshot.Writing) {
      SetCaption(ButtonSaveFile, "File Writing", Qt::red);
      TextFileName->setText(QString::fromLocal8Bit(snapshot.FileName.c_str()));
    } else {
      SetCaption(ButtonSaveFile, "Start File Write", Qt::black);
      TextFileName->clear();
    }
    TextFileName->adjustSize();
    mPrevWritingState = snapshot.Writing;
  }
  if (!snapshot.Status.SensorOpen) {
    if (!mLaserNeutral) {
      SetCaption(ButtonLaserState, "Laser: No Sensor", Qt::darkGray);
      mLaserNeutral = true;
      mPrevLaserOnState = false;
    }
    return;
  }
  if (mLaserNeutral || snapshot.LaserOn != mPrevLaserOnState) {
    mLaserNeutral = false;
    if (snapshot.LaserOn) {
      SetCaption(ButtonLaserState, "Laser Is On", Qt::red);
    } else {
      SetCaption(ButtonLaserState, "Laser Is Off", Qt::black);
    }
    mPrevLaserOnState = snapshot.LaserOn;
  }
}

void KivControl::closeEvent(QCloseEvent* event) {
  if (mOnClose) {
    mOnClose();
  }
  QWidget::closeEvent(event);
}

}  // namespace SorvaneClient
