// The value boxes' cached panels look exactly like the panels the style
// draws, in every state and size a box goes through, and repainting a box
// whose state did not change draws nothing new.

#include <gtest/gtest.h>

#include <QImage>
#include <QLineEdit>
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

}  // namespace
