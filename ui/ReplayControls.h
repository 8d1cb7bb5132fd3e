#pragma once
// The window "Replay", shown while the client plays a recording: play and
// pause, a step of one scan back or forward, the speed (0.25x to 8x) and a
// slider over the records indexed so far with the replay's place ("12.345 s
// · record 24 690 of 1 234 567"; "indexing…" until the whole file is
// indexed). A seek is asked when the slider is let go. The window only
// leaves word with the replay's steering and shows what it says, ten times a
// second; it never waits for the replay.

#include <QWidget>
#include <memory>

#include "ReplaySteering.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace ui {

class CReplayControls : public QWidget {
 public:
  static constexpr int kRefreshMs = 100;

  explicit CReplayControls(std::shared_ptr<recording::CReplaySteering> steering, QWidget* parent = nullptr);

  // Shows the steering's state now (the timer does it ten times a second).
  void Refresh();

  QPushButton* PlayButton() const { return mPlay; }
  QPushButton* BackButton() const { return mBack; }
  QPushButton* ForwardButton() const { return mForward; }
  QComboBox* SpeedChooser() const { return mSpeed; }
  QSlider* Slider() const { return mSlider; }
  QLabel* PlaceLabel() const { return mPlace; }

 private:
  void Seek();

  const std::shared_ptr<recording::CReplaySteering> mSteering;
  QPushButton* mPlay;
  QPushButton* mBack;
  QPushButton* mForward;
  QComboBox* mSpeed;
  QSlider* mSlider;
  QLabel* mPlace;
  QTimer* mTimer;
};

}  // namespace ui
