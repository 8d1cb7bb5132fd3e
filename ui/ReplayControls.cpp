#include "ReplayControls.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <string>

namespace ui {

namespace {

constexpr double kSpeeds[] = {0.25, 0.5, 1.0, 2.0, 4.0, 8.0};

// 1234567 as "1 234 567", a thin space between the groups of three.
QString Grouped(uint64_t number) {
  std::string digits = std::to_string(number);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) {
      text += "\u2009";
    }
    text += digits[i];
  }
  return QString::fromStdString(text);
}

QString SpeedText(double speed) { return QString::number(speed) + "\u00d7"; }

}  // namespace

CReplayControls::CReplayControls(std::shared_ptr<recording::CReplaySteering> steering, QWidget* parent)
    : QWidget(parent),
      mSteering(std::move(steering)),
      mPlay(new QPushButton("Pause", this)),
      mBack(new QPushButton("Step back", this)),
      mForward(new QPushButton("Step forward", this)),
      mSpeed(new QComboBox(this)),
      mSlider(new QSlider(Qt::Horizontal, this)),
      mPlace(new QLabel(this)),
      mTimer(new QTimer(this)) {
  setWindowTitle("Replay");
  for (double speed : kSpeeds) {
    mSpeed->addItem(SpeedText(speed), speed);
  }
  // The speed the replay was started with, as one of the choices.
  const double started = mSteering->Speed();
  int chosen = mSpeed->findData(started);
  if (chosen < 0) {
    mSpeed->addItem(started > 0 ? SpeedText(started) : QString("as fast as read"), started);
    chosen = mSpeed->count() - 1;
  }
  mSpeed->setCurrentIndex(chosen);
  mSlider->setMinimumWidth(400);
  mPlace->setMinimumWidth(mPlace->fontMetrics().horizontalAdvance("0000.000 s · record 00 000 000 of 00 000 000 (indexing…)"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(mBack);
  buttons->addWidget(mPlay);
  buttons->addWidget(mForward);
  buttons->addStretch();
  buttons->addWidget(new QLabel("Speed", this));
  buttons->addWidget(mSpeed);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(mSlider);
  layout->addWidget(mPlace);

  connect(mPlay, &QPushButton::clicked, this, [this] {
    if (mSteering->Paused()) {
      mSteering->Play();
    } else {
      mSteering->Pause();
    }
    Refresh();
  });
  connect(mBack, &QPushButton::clicked, this, [this] {
    mSteering->StepScans(-1);
    Refresh();
  });
  connect(mForward, &QPushButton::clicked, this, [this] {
    mSteering->StepScans(1);
    Refresh();
  });
  connect(mSpeed, &QComboBox::activated, this, [this](int index) {
    const double speed = mSpeed->itemData(index).toDouble();
    if (speed > 0) {
      mSteering->SetSpeed(speed);
    }
  });
  connect(mSlider, &QSlider::sliderReleased, this, [this] { Seek(); });
  // A click on the groove or a key moves the slider without a drag: that
  // is a seek too.
  connect(mSlider, &QSlider::actionTriggered, this, [this](int action) {
    if (action != QAbstractSlider::SliderMove && !mSlider->isSliderDown()) {
      Seek();
    }
  });
  connect(mTimer, &QTimer::timeout, this, [this] { Refresh(); });
  mTimer->start(kRefreshMs);
  Refresh();
}

void CReplayControls::Seek() {
  mSteering->SeekToRecord(static_cast<uint64_t>(std::max(0, mSlider->sliderPosition())));
  Refresh();
}

void CReplayControls::Refresh() {
  const recording::CRecordingIndex* index = mSteering->Index();
  const uint64_t records = index ? index->Records() : 0;
  mPlay->setText(mSteering->Paused() ? "Play" : "Pause");
  mBack->setEnabled(index != nullptr);
  mSlider->setEnabled(records > 0);
  mSlider->setMaximum(static_cast<int>(std::min<uint64_t>(records > 0 ? records - 1 : 0, INT_MAX)));
  mSlider->setPageStep(std::max(1, mSlider->maximum() / 50));  // a click on the groove: a fiftieth of the file

  recording::CReplaySteering::T_Place place = mSteering->Place();
  if (mSlider->isSliderDown() && index) {
    // While dragging: where the slider would go.
    place.record = static_cast<uint64_t>(std::max(0, mSlider->sliderPosition()));
    const auto entry = index->AtOrBefore(place.record);
    place.time = entry ? entry->time : 0;
  } else {
    mSlider->setValue(static_cast<int>(std::min<uint64_t>(place.record, INT_MAX)));
  }
  QString text = QString::number(static_cast<double>(place.time) / 1e5, 'f', 3) + " s · record " + Grouped(place.record);
  if (!index) {
    text += " (not a file: no seeking)";
  } else if (index->Complete()) {
    text += " of " + Grouped(records);
  } else if (!index->Error().empty()) {
    text += " (indexed as far as " + Grouped(records) + ")";
  } else {
    text += " (indexing…)";
  }
  mPlace->setText(text);
}

}  // namespace ui
