// The scan view without a display: its limit boxes, its geometry and what it
// paints from a completed scan.

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QWheelEvent>
#include <QWindow>
#include <atomic>
#include <cmath>
#include <memory>

#include "KivView.h"
#include "QtApp.h"
#include "PlotGeometry.h"
#include "ScanReadout.h"
#include "TraceFrame.h"

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

  void CheckANewScanLeavesNothingOfTheOldOne(bool inside);
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

bool NearColour(const QImage& image, int x, int y, QRgb colour) {
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      if ((image.pixel(x + dx, y + dy) & 0xFFFFFF) == (colour & 0xFFFFFF)) return true;
    }
  }
  return false;
}

std::vector<std::string> RingLabels(const KivView& view) {
  std::vector<std::string> labels;
  for (const ui::T_RangeRing& ring : view.PaintedRings()) labels.push_back(ring.label);
  return labels;
}

void TurnWheel(QWidget* plot, int angle) {
  const QPointF inside(plot->width() / 2.0, plot->height() / 2.0);
  QWheelEvent wheel(inside, plot->mapToGlobal(inside), QPoint(), QPoint(0, angle), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(plot, &wheel);
}

TEST_F(KivViewTest, RingsFollowTheMaxDistanceBoxWhichTheWheelZooms) {
  view->show();
  view->resize(800, 637);  // a plot area of 800 x 600
  QCoreApplication::processEvents();
  QImage image = view->PlotArea()->grab().toImage();
  using Labels = std::vector<std::string>;
  EXPECT_EQ(RingLabels(*view), (Labels{"30", "60", "90", "120"}));
  // The rings lie at quarters of the plot radius (400), in light grey, with
  // the axes through the centre.
  const QRgb grey = qRgb(0xD3, 0xD3, 0xD3);
  for (int quarter = 1; quarter <= 4; ++quarter) {
    const double r = 100.0 * quarter;
    EXPECT_TRUE(NearColour(image, 400 + static_cast<int>(r * 0.8), 300 - static_cast<int>(r * 0.6), grey)) << r;
  }
  EXPECT_TRUE(NearColour(image, 400, 20, grey) && NearColour(image, 790, 300, grey)) << "axes";

  // A step away from the operator shows less (x0.8), towards shows more
  // (x1.25); the box, the shared limit and the rings all follow.
  TurnWheel(view->PlotArea(), -120);
  EXPECT_EQ(view->ValBoxMaxDistance->text(), "150");
  EXPECT_EQ(distance.load(), 150);
  view->PlotArea()->grab();
  EXPECT_EQ(RingLabels(*view), (Labels{"37.5", "75", "112.5", "150"}));
  TurnWheel(view->PlotArea(), 60);  // half a notch waits for the other half
  EXPECT_EQ(view->ValBoxMaxDistance->text(), "150");
  TurnWheel(view->PlotArea(), 60);
  TurnWheel(view->PlotArea(), 120);
  EXPECT_EQ(view->ValBoxMaxDistance->text(), "96");
  view->ValBoxMaxDistance->setText("200");
  view->PlotArea()->grab();
  EXPECT_EQ(RingLabels(*view), (Labels{"50", "100", "150", "200"}));
}

TEST_F(KivViewTest, ReadoutNamesThePointUnderThePointerUntilItLeaves) {
  view->show();
  view->resize(800, 637);
  QCoreApplication::processEvents();
  auto scan = std::make_shared<KivView::T_Scan>();
  for (int i = 0; i < 1000; ++i) {
    scan->distances.push_back(60.0 + i * 0.05);
    scan->widths.push_back(100.0 + i * 0.1);
  }
  view->ShowScan(scan);
  // Where point 700 of each trace is drawn.
  std::vector<ui::T_PlotPoint> distancePoints;
  std::vector<ui::T_PlotPoint> widthPoints;
  ui::ComputeTrace(scan->distances.data(), 1000, 120.0, view->PlotRegion(), distancePoints);
  ui::ComputeTrace(scan->widths.data(), 1000, 400.0, view->PlotRegion(), widthPoints);
  auto pointAt = [&](const ui::T_PlotPoint& p) {
    const QPointF at(p.x, p.y);
    QMouseEvent move(QEvent::MouseMove, at, view->PlotArea()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(view->PlotArea(), &move);
  };
  for (const auto* trace : {&distancePoints, &widthPoints}) {
    const ui::T_PlotPoint target = (*trace)[700];
    pointAt(target);
    const std::string shown = view->LabelReadout->text().toStdString();
    // Neighbouring points may share the pixel: any of them is right.
    bool named = false;
    for (int i = 699; i <= 701; ++i) {
      const bool onPixel = (*trace)[i].x == target.x && (*trace)[i].y == target.y;
      named |= onPixel && shown == ui::ReadoutText(i, scan->distances[i], scan->widths[i]);
    }
    EXPECT_TRUE(named) << shown;
  }
  EXPECT_EQ(ui::ReadoutText(700, scan->distances[700], scan->widths[700]),
            "Angle 126.00\u00B0  Distance 95.00  Width 170.00");
  // The mark on the point read out.
  EXPECT_GT(CountColour(view->PlotArea()->grab().toImage(), qRgb(0xFF, 0x8C, 0x00)), 10);

  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(view->PlotArea(), &leave);
  EXPECT_EQ(view->LabelReadout->text(), "");
  EXPECT_EQ(CountColour(view->PlotArea()->grab().toImage(), qRgb(0xFF, 0x8C, 0x00)), 0);
}

TEST_F(KivViewTest, ANewScanLeavesNothingOfTheOldOneAndRestoresTheRingsItCrossed) {
  // Once as a window of its own, once inside another window away from its
  // top left corner, where the plot's pixels lie elsewhere in the window's.
  for (const bool inside : {false, true}) {
    SCOPED_TRACE(inside ? "inside another window" : "a window of its own");
    SetUp();
    CheckANewScanLeavesNothingOfTheOldOne(inside);
  }
}

void KivViewTest::CheckANewScanLeavesNothingOfTheOldOne(bool inside) {
  QWidget outer;
  struct T_DeleteFirst {  // the view goes before the window that may hold it
    std::unique_ptr<KivView>& view;
    ~T_DeleteFirst() { view.reset(); }
  } deleteFirst{view};
  QWidget* window = view.get();
  if (inside) {
    outer.resize(900, 700);
    view->setParent(&outer);
    view->move(37, 21);
    window = &outer;
  }
  view->resize(800, 637);  // plot radius 400: rings at 100, 200, 300 and 400 pixels
  window->show();
  QCoreApplication::processEvents();
  ASSERT_TRUE(window->windowHandle() && window->windowHandle()->isExposed()) << "drawn scan by scan";
  auto first = std::make_shared<KivView::T_Scan>();
  first->distances.assign(1000, 60.0);  // on the ring at 200 pixels
  first->widths.assign(1000, 100.0);
  view->ShowScan(first);
  QCoreApplication::processEvents();
  auto second = std::make_shared<KivView::T_Scan>();
  second->distances.assign(1000, 90.0);  // 300 pixels
  second->widths.assign(1000, 120.0);  // 120 pixels
  view->ShowScan(second);
  QCoreApplication::processEvents();

  // The window, painted scan by scan, shows what painting it whole gives.
  const QImage screen = window->screen()->grabWindow(window->winId()).toImage().convertToFormat(QImage::Format_RGB32);
  const QImage image = view->PlotArea()->grab().toImage();
  const QRect plot(view->PlotArea()->mapTo(window, QPoint(0, 0)), view->PlotArea()->size());
  EXPECT_TRUE(screen.copy(plot) == image.convertToFormat(QImage::Format_RGB32));
  const ui::T_PlotRegion region = view->PlotRegion();
  const QRgb red = qRgb(255, 0, 0);
  const QRgb grey = qRgb(0xD3, 0xD3, 0xD3);
  int oldRed = 0;
  int ringBack = 0;
  for (int i = 10; i < 1000; i += 10) {
    const double s = SorvaneClient::mSinAng[i];
    const double c = SorvaneClient::mCosAng[i];
    const int x = static_cast<int>(region.xCenter + s * 200);
    const int y = static_cast<int>(region.yCenter + c * 200);
    oldRed += NearColour(image, x, y, red);
    ringBack += NearColour(image, x, y, grey);
  }
  EXPECT_EQ(oldRed, 0) << "the first scan's distance trace is gone";
  EXPECT_GE(ringBack, 95) << "the ring it lay on is whole again";
  // Point 500 of each trace lies right of the centre.
  EXPECT_TRUE(NearColour(image, region.xCenter + 300, region.yCenter + 2, red));
  EXPECT_TRUE(NearColour(image, region.xCenter + 120, region.yCenter + 2, qRgb(0, 128, 0)));
  // Half way, the first width trace lay on the ring at 100 pixels.
  const int x = static_cast<int>(region.xCenter + SorvaneClient::mSinAng[250] * 100);
  const int y = static_cast<int>(region.yCenter + SorvaneClient::mCosAng[250] * 100);
  EXPECT_TRUE(NearColour(image, x, y, grey));
  EXPECT_FALSE(NearColour(image, x, y, qRgb(0, 128, 0))) << "the first width trace is gone";
}

// The data path's thread works out each scan's frame; the view takes it
// only while the plot's size and limits are still those it was made for.
TEST_F(KivViewTest, AFrameWorkedOutElsewhereIsTakenOnlyWhileItsSizeAndLimitsHold) {
  view->show();
  view->resize(800, 600);
  QCoreApplication::processEvents();
  auto scan = std::make_shared<KivView::T_Scan>();
  scan->distances.assign(1500, 60.0);
  scan->widths.assign(1500, 100.0);
  auto other = std::make_shared<KivView::T_Scan>();
  other->distances.assign(1500, 90.0);
  other->widths.assign(1500, 300.0);
  ui::CTraceCanvas canvas;
  auto frameOf = [&](const KivView::T_Scan& s, ui::T_TraceInputs inputs) {
    return canvas.Build(s, inputs, ui::SinTable().data(), ui::CosTable().data(), view->Background(),
                        {qRgb(255, 0, 0), qRgb(0, 128, 0)});
  };
  auto picture = [&] { return view->PlotArea()->grab().toImage(); };

  view->ShowScan(scan);
  const QImage own = picture();
  view->ShowScan(other);
  view->ShowScan(scan, frameOf(*scan, view->CurrentInputs()));
  EXPECT_EQ(picture(), own) << "the same picture as the GUI thread's own frame";

  // A frame is taken as it comes: one of another scan shows that scan.
  view->ShowScan(other);
  const QImage otherOwn = picture();
  view->ShowScan(scan, frameOf(*other, view->CurrentInputs()));
  EXPECT_EQ(picture(), otherOwn);

  ui::T_TraceInputs stale = view->CurrentInputs();
  stale.distLimit *= 2;
  view->ShowScan(scan, frameOf(*other, stale));
  EXPECT_EQ(picture(), own) << "a frame for another limit is worked out again";
  stale = view->CurrentInputs();
  stale.width -= 1;
  view->ShowScan(scan, frameOf(*other, stale));
  EXPECT_EQ(picture(), own) << "and one for another size";
}

}  // namespace
