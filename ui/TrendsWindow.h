#pragma once
// The trends window: strip charts of the last 10, 30 or 60 s of sensor time
// (the operator picks) of the current and filtered distance with the
// standard deviation as a band, the width, both temperatures, the supply
// voltage, the IMU's three sensors on three axes each, and the records per
// second with their gaps marked. The pointer over the charts reads out the
// time and values of its column; Freeze holds the picture (and what the
// exports take) until Resume; the span shown can be saved as the picture
// drawn (PNG) or as its buckets (CSV).
//
// Threads: GUI thread only. While shown and not frozen, a 100 ms timer
// copies what is new in the trend store (the data path fills it) and
// redraws; hidden or frozen, it does nothing.

#include <QTimer>
#include <QWidget>
#include <string>
#include <vector>

#include "TrendHistory.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace trends {
class CTrendStore;
}

namespace ui {

class CStripCharts;

class CTrendsWindow : public QWidget {
 public:
  static constexpr int kRefreshMs = 100;
  static constexpr int kSpans[] = {10, 30, 60};

  explicit CTrendsWindow(const trends::CTrendStore& store, QWidget* parent = nullptr);

  // The span shown, one of kSpans.
  void SetSpanSeconds(int seconds);
  int SpanSeconds() const { return mSpanSeconds; }
  // What the timer does: copies the store's news and redraws, unless frozen.
  void Refresh();
  void SetFrozen(bool frozen);
  bool Frozen() const { return mFrozen; }

  // The span shown, as drawn and as its buckets; false, with the reason in
  // `error` (and on the window's message line), when the file cannot be written.
  bool ExportPng(const std::string& path, std::string& error);
  bool ExportCsv(const std::string& path, std::string& error);

  // The read-out of the chart column `column` (-1: none) and its text.
  void ShowReadout(int column);
  QString ReadoutText() const;

  CStripCharts* Charts() const { return mCharts; }
  QPushButton* FreezeButton() const { return mFreeze; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Redraw();
  void ChooseAndExportPng();
  void ChooseAndExportCsv();
  void ShowMessage(const std::string& text, bool error);

  const trends::CTrendStore& mStore;
  trends::CTrendHistory mHistory;
  std::vector<trends::T_Column> mColumns;  // storage for the next refresh's columns
  int mSpanSeconds = 10;
  bool mFrozen = false;
  int mPointerColumn = -1;
  QComboBox* mSpan = nullptr;
  QPushButton* mFreeze = nullptr;
  QPushButton* mExportPng = nullptr;
  QPushButton* mExportCsv = nullptr;
  CStripCharts* mCharts = nullptr;
  QLabel* mReadout = nullptr;
  QLabel* mMessage = nullptr;
  QTimer mTimer;
};

}  // namespace ui
