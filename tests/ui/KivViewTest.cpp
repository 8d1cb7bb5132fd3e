// The scan view without a display: its limit boxes, its geometry and what it
// paints from a completed scan.

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <atomic>
#include <cmath>
#include <memory>

#include "KivView.h"
#include "QtApp.h"

namespace {

using SorvaneClient::KivView;

class KivViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    view = std::make_unique<KivView>();
    view->SetMaxDistPtr(&distance);
    view->SetMaxWidthPtr(&width);
  }

  std::atomic<int32_t> distance{0};
  std::atomic<int32_t> width{0};
  std::unique_ptr<KivView> view;
};

TEST_F(KivViewTest, LimitsStartFromTheBoxesAndNeverFallBelowTen) {
  EXPECT_EQ(distance.load(), 120);
  EXPECT_EQ(width.load(), 400);

  struct Case {
    const char* typed;
    const char* shown;
    int32_t limit;
  };
  const Case cases[] = {
      {"", "0", 10},          {"5", "5", 10},     {"-7", "-7", 10},         {"abc", "0", 10},
      {" 150 ", " 150 ", 150}, {"12345678901", "0", 10}, {"2000", "2000", 2000},
  };
  for (const Case& c : cases) {
    view->ValBoxMaxDistance->setText(c.typed);
    EXPECT_EQ(view->ValBoxMaxDistance->text().toStdString(), c.shown) << '"' << c.typed << '"';
    EXPECT_EQ(distance.load(), c.limit) << '"' << c.typed << '"';
  }
  view->ValBoxMaxWidth->setText("x1");
  EXPECT_EQ(view->ValBoxMaxWidth->text().toStdString(), "0");
  EXPECT_EQ(width.load(), 10);
}

TEST_F(KivViewTest, PlotRegionFollowsTheWindowsSize) {
  view->show();
  view->resize(800, 637);  // a plot area of 800 x 600 above the strip of limit boxes
  QCoreApplication::processEvents();
  EXPECT_EQ(view->PlotRegion().xCenter, 400);
  EXPECT_EQ(view->PlotRegion().yCenter, 300);
  EXPECT_EQ(view->PlotRegion().scale, 400.0);
  // The limit boxes stay at the bottom left.
  EXPECT_EQ(view->ValBoxMaxDistance->y(), 637 - (562 - 530));
  EXPECT_EQ(view->ValBoxMaxDistance->x(), 332);
}

int CountColour(const QImage& image, QRgb colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++count;
    }
  }
  return count;
}

TEST_F(KivViewTest, PaintsTheLastScanInRedAndGreenEveryTimeItIsExposed) {
  view->show();
  view->resize(800, 600);
  QCoreApplication::processEvents();
  QImage blank = view->grab().toImage();
  EXPECT_EQ(CountColour(blank, qRgb(255, 0, 0)), 0) << "nothing before the first scan";

  auto scan = std::make_shared<KivView::T_Scan>();
  scan->distances.assign(1000, 60.0);  // 60 of 120: half a circle of radius 200
  scan->widths.assign(1000, 100.0);    // 100 of 400: half a circle of radius 100
  view->ShowScan(scan);
  const QImage first = view->grab().toImage();
  const int red = CountColour(first, qRgb(255, 0, 0));
  const int green = CountColour(first, qRgb(0, 128, 0));
  EXPECT_GT(red, 300) << "half a circle of radius 200";
  EXPECT_GT(green, 150) << "half a circle of radius 100";
  EXPECT_EQ(CountColour(first, qRgb(0, 255, 0)), 0) << "the width pen is green #008000, not lime";
  // The red trace's first point lies 200 pixels below the centre.
  const ui::T_PlotRegion& region = view->PlotRegion();
  EXPECT_EQ(first.pixel(region.xCenter, region.yCenter + 200) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(first.pixel(region.xCenter, region.yCenter + 100) & 0xFFFFFF, 0x008000u);
  // The view's angle tables: a quarter turn at 500, half a turn at 1000.
  EXPECT_NEAR(SorvaneClient::mSinAng[500], 1.0, 1e-12);
  EXPECT_NEAR(SorvaneClient::mCosAng[1000], -1.0, 1e-12);
  // Painted again from the kept scan, as after being covered and uncovered.
  const QImage again = view->grab().toImage();
  EXPECT_EQ(CountColour(again, qRgb(255, 0, 0)), red);
  EXPECT_EQ(CountColour(again, qRgb(0, 128, 0)), green);
}

}  // namespace
