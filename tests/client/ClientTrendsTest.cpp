// The client on the virtual sensor with the trends window opened from the
// control panel: the window fills with what the sensor sends, at its rate,
// and closing it leaves the client running until a main window closes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "ClientRun.h"
#include "DiagCapture.h"
#include "KivControl.h"
#include "KivView.h"
#include "SkarvIO.h"
#include "StopRequest.h"
#include "StripCharts.h"
#include "TrendsWindow.h"
#include "VirtualSensorSetup.h"

namespace {

ui::CTrendsWindow* FindTrendsWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* trends = dynamic_cast<ui::CTrendsWindow*>(widget)) return trends;
  }
  return nullptr;
}

TEST(ClientTrends, TheTrendsWindowFillsFromTheRecordsAndClosesAlone) {
#if defined(__SANITIZE_THREAD__)
  // Under ThreadSanitizer the scan view, the panel and the trends window's
  // refreshes together keep the GUI thread busy past the test's limits;
  // the store's and the window's threads meet in TrendStoreTest instead.
  GTEST_SKIP() << "too slow under ThreadSanitizer";
#endif
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  int argc = 1;
  char name[] = "test_client";
  char* argv[] = {name, nullptr};
  auto app = std::make_unique<QApplication>(argc, argv);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(std::filesystem::temp_directory_path());
  T_VirtualSensorSetup simulation = UseVirtualSensor();
  auto io = std::make_unique<CSkarvIO>();
  CStopRequest stop;
  bool filled = false;
  bool closedAlone = false;
  double rate = 0.0;
  // Generous for the sanitizers' builds, where each refresh is slow.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
  auto capture = std::make_unique<CDiagCapture>();
  const int result = RunClient(*app, *io, stop, [&](SorvaneClient::KivView& view, SorvaneClient::KivControl& control) {
    control.ButtonTrends->click();
    auto* poll = new QTimer(&view);
    QObject::connect(poll, &QTimer::timeout, &view, [&, poll] {
      ui::CTrendsWindow* trends = FindTrendsWindow();
      if (!filled && trends && trends->isVisible()) {
        // A second of the sensor's time drawn (records 1.3 s after opening).
        size_t drawn = 0;
        for (const trends::T_Column& column : trends->Charts()->Columns()) {
          if (!column.Empty()) ++drawn;
          if (column.HasRate()) rate = column.RecordsPerSecond();
        }
        if (drawn * 10 >= trends->Charts()->Columns().size() && rate > 0.0) {
          filled = true;
          trends->close();
        }
      } else if (filled && !closedAlone) {
        // A tick later: the client still runs without it.
        closedAlone = trends && !trends->isVisible();
        control.close();
      }
      if (std::chrono::steady_clock::now() > deadline) {
        poll->stop();
        control.close();
      }
    });
    poll->start(100);
  });
  capture.reset();
  io.reset();
  std::filesystem::current_path(previous);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(filled);
  EXPECT_TRUE(closedAlone);
  // The virtual sensor samples every 25 us: 40,000 records a second of its time.
  EXPECT_NEAR(rate, 40000.0, 2000.0);
}

}  // namespace
