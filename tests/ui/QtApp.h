#pragma once
// The one QApplication of the window tests, made on first use on the test
// thread and drawn off-screen, so that the tests need no display. It is kept
// until the program ends.

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <thread>

inline QApplication& TestApp() {
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    static int argc = 1;
    static char name[] = "test_ui";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Delivers the GUI thread's events until `done` holds; false if it still
// does not after `limit`.
template <typename Done>
bool PumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
