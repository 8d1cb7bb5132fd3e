// The value boxes' cached panels look exactly like the panels the style
// draws, in every state and size a box goes through, and repainting a box
// whose state did not change draws nothing new.

#include <gtest/gtest.h>

#include <QImage>
#include <QLineEdit>
#include <QPalette>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <QStyleFactory>
#include <cstdlib>
#include <memory>
#include <string>

#include "FrameCacheStyle.h"
#include "QtApp.h"

namespace {

// The largest difference of any colour channel between two pictures of the
// same size; 255 when the sizes differ. Copying an antialiased frame rounds
// its edge pixels once more, by a step at most.
int LargestDifference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) {
    return 255;
  }
  const QImage left = a.convertToFormat(QImage::Format_ARGB32);
  const QImage right = b.convertToFormat(QImage::Format_ARGB32);
  int largest = 0;
  for (int y = 0; y < left.height(); ++y) {
    for (int x = 0; x < left.width(); ++x) {
      const QRgb p = left.pixel(x, y);
      const QRgb q = right.pixel(x, y);
      largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q))});
    }
  }
  return largest;
}

TEST(FrameCacheStyle, BoxesLookAsTheStyleDrawsThemInEveryStateAndSize) {
  TestApp();
  std::unique_ptr<QStyle> plainStyle(QStyleFactory::create(QApplication::style()->name()));
  ui::CFrameCacheStyle cachedStyle;
  QLineEdit plain("12.34");
  QLineEdit cached("12.34");
  plain.setStyle(plainStyle.get());
  cached.setStyle(&cachedStyle);

  const auto expectSame = [&](const std::string& what) {
    EXPECT_LE(LargestDifference(plain.grab().toImage(), cached.grab().toImage()), 1) << what;
  };
  for (QLineEdit* box : {&plain, &cached}) {
    box->resize(100, 22);
  }
  expectSame("first paint");
  cached.setText("56.78");
  plain.setText("56.78");
  expectSame("new text");
  EXPECT_EQ(cachedStyle.CachedPanels(), 1u) << "same size and state: the picture is reused";

  for (QLineEdit* box : {&plain, &cached}) {
    box->setEnabled(false);
  }
  expectSame("disabled");
  for (QLineEdit* box : {&plain, &cached}) {
    box->setEnabled(true);
    box->setReadOnly(true);
  }
  expectSame("read-only");
  for (QLineEdit* box : {&plain, &cached}) {
    box->resize(200, 44);
  }
  expectSame("larger");
  for (QLineEdit* box : {&plain, &cached}) {
    box->setStyleSheet(QStringLiteral("QLineEdit { background-color: #ffb4b4; }"));
  }
  expectSame("marked by a style sheet");
  for (QLineEdit* box : {&plain, &cached}) {
    box->setStyleSheet(QString());
  }
  expectSame("mark taken off");
  EXPECT_EQ(cached.style(), &cachedStyle) << "the box keeps the caching style after its style sheet goes";
}

// A box marked as painting every pixel shows, on the screen, the colour of
// the window behind its rounded corners, in every state, as a box that
// lets the window be painted beneath it does.
TEST(FrameCacheStyle, AnOpaqueBoxShowsTheWindowBehindItsCorners) {
  TestApp();
  std::unique_ptr<QStyle> plainStyle(QStyleFactory::create(QApplication::style()->name()));
  ui::CFrameCacheStyle cachedStyle;
  QWidget window;
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, QColor(0x30, 0x60, 0xA0));
  window.setPalette(palette);
  window.resize(260, 60);
  QLineEdit plain("12.34", &window);
  QLineEdit cached("12.34", &window);
  plain.setStyle(plainStyle.get());
  cached.setStyle(&cachedStyle);
  cached.setAttribute(Qt::WA_OpaquePaintEvent);
  plain.setFocusPolicy(Qt::NoFocus);  // no cursor in either
  cached.setFocusPolicy(Qt::NoFocus);
  plain.setGeometry(10, 10, 100, 22);
  cached.setGeometry(130, 10, 100, 22);
  window.show();
  ASSERT_TRUE(PumpUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));

  const auto expectSame = [&](const std::string& what) {
    cached.setText(cached.text() == "12.34" ? "56.78" : "12.34");  // repaints the box alone
    plain.setText(cached.text());
    QCoreApplication::processEvents();
    const QImage screen = window.screen()->grabWindow(window.winId()).toImage();
    ASSERT_EQ(screen.size(), window.size());
    EXPECT_LE(LargestDifference(screen.copy(plain.geometry()), screen.copy(cached.geometry())), 1) << what;
  };
  expectSame("enabled");
  plain.setEnabled(false);
  cached.setEnabled(false);
  expectSame("disabled");
  plain.setEnabled(true);
  cached.setEnabled(true);
  for (QLineEdit* box : {&plain, &cached}) {
    box->setStyleSheet(QStringLiteral("QLineEdit { background-color: #ffb4b4; }"));
  }
  expectSame("marked by a style sheet");
}

}  // namespace
