// The terminal going away while the client records: SIGHUP ends the client
// in order and the recording is closed on a complete line.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "ClientRun.h"
#include "StopRequest.h"
#include "DiagCapture.h"
#include "KivControl.h"
#include "KivView.h"
#include "SkarvIO.h"
#include "VirtualSensorSetup.h"

namespace {

using SorvaneClient::KivControl;
using SorvaneClient::KivView;

size_t Fields(const std::string& line) { return static_cast<size_t>(std::count(line.begin(), line.end(), ',')) + 1; }

TEST(ClientHangUp, WhileRecordingEndsInOrderWithTheFileOnACompleteLine) {
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  int argc = 1;
  char name[] = "test_client";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  char pattern[] = "/tmp/skarv-hangup-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(pattern);

  T_VirtualSensorSetup simulation = UseVirtualSensor();
  auto io = std::make_unique<CSkarvIO>();
  bool hungUp = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);

  auto capture = std::make_unique<CDiagCapture>();
  CStopRequest stop;
  stop.CatchSignals();
  const int result = RunClient(app, *io, stop, [&](KivView& view, KivControl& control) {
    control.ButtonSaveFile->click();
    auto* poll = new QTimer(&view);
    QObject::connect(poll, &QTimer::timeout, &view, [&, poll] {
      // Hang up once the file holds a good many lines.
      std::error_code missing;
      if (!hungUp && std::filesystem::file_size("SkarvData-1.csv", missing) > 100'000 && !missing) {
        hungUp = true;
        std::raise(SIGHUP);
      }
      if (std::chrono::steady_clock::now() > deadline) {
        poll->stop();
        view.close();
      }
    });
    poll->start(20);
  });
  const std::string out = capture->Take();
  capture.reset();
  io.reset();

  EXPECT_TRUE(hungUp) << "the recording never grew";
  EXPECT_EQ(result, 0);
  EXPECT_NE(out.find("Thread Done. Clean up...\n"), std::string::npos);
  std::ifstream file("SkarvData-1.csv", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(text.size(), 100'000u);
  EXPECT_EQ(text.back(), '\n');
  const std::string header = text.substr(0, text.find('\n'));
  const size_t lastStart = text.rfind('\n', text.size() - 2) + 1;
  EXPECT_EQ(Fields(text.substr(lastStart, text.size() - 1 - lastStart)), Fields(header));

  std::filesystem::current_path(previous);
  std::filesystem::remove_all(pattern);
}

}  // namespace
