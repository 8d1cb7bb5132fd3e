// The trends window, off-screen, over a trend store fed hand-made records:
// what each chart column shows, the band, the pointer's read-out, freezing
// and the exported files.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "QtApp.h"
#include "RawRecord.h"
#include "StripCharts.h"
#include "TrendChartList.h"
#include "TrendStore.h"
#include "TrendsWindow.h"

namespace {

using kiv::T_RawRecord;
using ui::CStripCharts;
using ui::CTrendsWindow;

class TrendsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    // Wide enough that each column of a 10 s span covers one bucket at most.
    window = std::make_unique<CTrendsWindow>(store);
    window->resize(1200, 800);
    window->show();
    ASSERT_TRUE(PumpUntil([&] { return window->Charts()->PlotWidth() > 1000; }));
  }

  // `count` records `deltTime` units apart, numbered on from the last fed.
  void Feed(size_t count, int deltTime, const std::function<void(size_t, T_RawRecord&)>& shape = {}) {
    std::vector<T_RawRecord> records(count);
    for (size_t i = 0; i < count; ++i) {
      T_RawRecord& record = records[i];
      record.count = mNextCount++;
      record.rawDistance = 5000;
      record.width = 40;
      record.flags = T_RawRecord::FlagsOf(0, static_cast<unsigned>(deltTime));
      if (shape) shape(i, record);
    }
    store.Add(records);
  }

  // The column of the charts that holds bucket `bucket`.
  int ColumnOf(int64_t bucket) const {
    const std::vector<trends::T_Column>& columns = window->Charts()->Columns();
    for (size_t x = 0; x < columns.size(); ++x) {
      if (columns[x].firstBucket <= bucket && bucket < columns[x].endBucket) return static_cast<int>(x);
    }
    return -1;
  }

  trends::CTrendStore store;
  std::unique_ptr<CTrendsWindow> window;
  uint16_t mNextCount = 0;
};

constexpr QRgb kDistanceColour = 0xFFD01010;

TEST_F(TrendsWindowTest, ASpikeOfOneRecordShowsInItsColumn) {
  window->resize(700, 800);  // a column covers two buckets or more
  ASSERT_TRUE(PumpUntil([&] { return window->Charts()->PlotWidth() < 700; }));
  // 10 s at 400 records a second, at 500.0; record 3002 (at 750,750 units:
  // bucket 750) is 1500.0.
  Feed(4000, 250, [](size_t i, T_RawRecord& record) {
    if (i == 3002) record.rawDistance = 15000;
  });
  window->Refresh();
  const CStripCharts& charts = *window->Charts();
  const int column = ColumnOf(750);
  ASSERT_GE(column, 0);
  EXPECT_EQ(charts.Columns()[static_cast<size_t>(column)].max[trends::eDistance], 1500.0f);
  const QImage& picture = charts.Picture();
  const int x = charts.PlotRect(0).left() + column;
  const int spikeRow = charts.RowOf(0, 1500.0);
  EXPECT_LT(spikeRow, charts.RowOf(0, 500.0) - 10);
  EXPECT_EQ(picture.pixel(x, spikeRow), kDistanceColour);
  for (const int other : {x - 3, x - 1, x + 1, x + 3}) {
    EXPECT_NE(picture.pixel(other, spikeRow), kDistanceColour) << other - x;
  }
  // The steady distance is drawn in every column.
  for (int i = 0; i < charts.PlotWidth(); i += 50) {
    EXPECT_EQ(picture.pixel(charts.PlotRect(0).left() + i, charts.RowOf(0, 500.0)), kDistanceColour) << i;
  }

  // Over the last minute (chosen in the span box), a column covers ten
  // buckets or more, and the spike is still in its column.
  auto* span = window->findChild<QComboBox*>(QStringLiteral("TrendsSpan"));
  ASSERT_NE(span, nullptr);
  span->setCurrentIndex(span->findData(60));
  EXPECT_EQ(window->SpanSeconds(), 60);
  EXPECT_EQ(charts.Columns().front().firstBucket, 1000 + 1 - 6000);
  const int wide = ColumnOf(750);
  ASSERT_GE(wide, 0);
  EXPECT_GE(charts.Columns()[static_cast<size_t>(wide)].endBucket - charts.Columns()[static_cast<size_t>(wide)].firstBucket, 8);
  EXPECT_EQ(charts.Picture().pixel(charts.PlotRect(0).left() + wide, charts.RowOf(0, 1500.0)), kDistanceColour);
}

TEST_F(TrendsWindowTest, TheBandFollowsTheStandardDeviation) {
  // Every tenth record far out, more so in the second half of the span
  // shown (after 10 s of the first kind): the deviation about the filtered
  // distance grows, and the band with it.
  Feed(8000, 250, [](size_t i, T_RawRecord& record) {
    if (i % 10 == 0) record.rawDistance = i < 6000 ? 7000 : 9000;
  });
  window->Refresh();
  const CStripCharts& charts = *window->Charts();
  const QImage& picture = charts.Picture();
  const QRect plot = charts.PlotRect(0);
  int checked = 0;
  int filled = 0;
  int firstHalfWidest = 0;
  int secondHalfNarrowest = plot.height();
  for (int column = 0; column < static_cast<int>(charts.Columns().size()); ++column) {
    const trends::T_Column& c = charts.Columns()[static_cast<size_t>(column)];
    if (c.Empty()) continue;
    const double f = c.mean[trends::eFiltered];
    const double s = c.mean[trends::eStdDev];
    // Its edges, the filtered distance and its deviation either side, are
    // drawn over the distance's trace; the band fills between them.
    const int top = charts.RowOf(0, f + s);
    const int bottom = charts.RowOf(0, f - s);
    EXPECT_EQ(picture.pixel(plot.left() + column, top), CStripCharts::kBandEdge) << column;
    EXPECT_EQ(picture.pixel(plot.left() + column, bottom), CStripCharts::kBandEdge) << column;
    // Below the distances, the band itself shows.
    if (bottom - top > 4 && bottom - 2 > charts.RowOf(0, 500.0) + 1) {
      EXPECT_EQ(picture.pixel(plot.left() + column, bottom - 2), CStripCharts::kBand) << column;
      ++filled;
    }
    if (c.endBucket <= 1500) firstHalfWidest = std::max(firstHalfWidest, bottom - top);
    if (c.firstBucket >= 1800) secondHalfNarrowest = std::min(secondHalfNarrowest, bottom - top);
    ++checked;
  }
  EXPECT_GT(checked, 900);
  EXPECT_GT(filled, 100);
  EXPECT_GT(secondHalfNarrowest, firstHalfWidest);
}

TEST_F(TrendsWindowTest, ThePointerReadsOutAKnownRecord) {
  // One record a bucket; record 600 (bucket 601, 6.01 s) is the known one.
  Feed(1000, 1000, [](size_t i, T_RawRecord& record) {
    if (i != 600) return;
    record.rawDistance = 1234;
    record.width = 77;
    record.rawAnaTemp = 4518;  // 25.50 degrees
    record.rawSupplyVoltage = 4817;  // 12.00 V
    record.imu[kiv::eAccelX] = 0xFFFF;
    record.imu[kiv::eGyroZ] = 0x8000;
    record.imu[kiv::eMagY] = 321;
  });
  window->Refresh();
  CStripCharts& charts = *window->Charts();
  const int column = ColumnOf(601);
  ASSERT_GE(column, 0);
  ASSERT_EQ(charts.Columns()[static_cast<size_t>(column)].records, 1u);
  const QPointF at(charts.PlotRect(3).left() + column, charts.PlotRect(3).center().y());
  QMouseEvent move(QEvent::MouseMove, at, charts.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&charts, &move);
  const std::string text = window->ReadoutText().toStdString();
  for (const char* part : {"t 6.01 s", "Distance current 123.40 filtered ", "Width 77 ", "Laser temperature 25.50 ",
                           "Supply voltage 12.00 ", "Accelerometer X -1 Y 0 Z 0 ", "Gyroscope X 0 Y 0 Z -32768 ",
                           "Magnetometer X 0 Y 321 Z 0 ", "Records 100/s"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }
  EXPECT_EQ(text.find("gap"), std::string::npos) << text;
}

TEST_F(TrendsWindowTest, FreezeHoldsThePictureAndWhatTheExportsTake) {
  Feed(1000, 1000);  // 10 s, one record a bucket
  window->Refresh();
  window->FreezeButton()->click();
  EXPECT_TRUE(window->Frozen());
  EXPECT_EQ(window->FreezeButton()->text(), "Resume");
  const QImage before = window->grab().toImage();
  Feed(300, 1000, [](size_t, T_RawRecord& record) { record.rawDistance = 15000; });
  window->Refresh();
  PumpUntil([] { return false; }, std::chrono::milliseconds(3 * CTrendsWindow::kRefreshMs));
  EXPECT_EQ(window->grab().toImage(), before);

  // The exports take the frozen span: the first 10 s, one line a bucket.
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::string csv = (dir / "skarv-trends-window.csv").string();
  const std::string png = (dir / "skarv-trends-window.png").string();
  std::string error;
  ASSERT_TRUE(window->ExportCsv(csv, error)) << error;
  std::ifstream in(csv);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u + 1000u);
  EXPECT_EQ(lines[1].rfind("0.01,1,0,0,500,500,500,", 0), 0u) << lines[1];
  EXPECT_EQ(lines.back().rfind("10.00,1,0,0,500,500,500,", 0), 0u) << lines.back();
  ASSERT_TRUE(window->ExportPng(png, error)) << error;
  EXPECT_EQ(QImage(QString::fromStdString(png)), window->Charts()->Picture().convertToFormat(QImage::Format_RGB32));
  std::filesystem::remove(csv);
  std::filesystem::remove(png);
  EXPECT_FALSE(window->ExportPng("/nonexistent-folder/t.png", error));
  EXPECT_EQ(error, "cannot write the picture to /nonexistent-folder/t.png");

  // Resumed, it moves on to the newest records.
  window->FreezeButton()->click();
  EXPECT_FALSE(window->Frozen());
  EXPECT_NE(window->grab().toImage(), before);
  EXPECT_EQ(window->Charts()->Columns().back().max[trends::eDistance], 1500.0f);
}

// Drawn refresh after refresh, as the axes' ranges change, the picture is
// what charts drawing the same columns at once show: nothing of an older
// frame is left (the labels of an old range, say).
TEST_F(TrendsWindowTest, RefreshesDrawWhatChartsDrawingAtOnceDraw) {
  Feed(300, 1000);
  window->Refresh();
  Feed(300, 1000, [](size_t i, T_RawRecord& record) {
    record.rawDistance = static_cast<uint16_t>(10000 + 20 * i);
    record.rawAnaTemp = static_cast<uint16_t>(4000 + i);
    record.imu[kiv::eGyroY] = static_cast<uint16_t>(i * 100);
  });
  window->Refresh();
  // The same columns drawn at once, by charts that never drew before.
  CStripCharts fresh;
  fresh.resize(window->Charts()->size());
  fresh.SetColumns(window->Charts()->Columns(), 10.0);
  EXPECT_EQ(window->Charts()->Range(0), fresh.Range(0));
  EXPECT_NE(window->Charts()->Range(0), ui::T_AxisRange{});
  EXPECT_EQ(window->Charts()->Picture(), fresh.Picture());
}

TEST_F(TrendsWindowTest, GapsAreMarkedOnTheRecordsChart) {
  Feed(500, 1000);
  mNextCount += 5;  // five records lost
  Feed(499, 1000);
  window->Refresh();
  const CStripCharts& charts = *window->Charts();
  const int charts_ = static_cast<int>(ui::TrendCharts().size());
  const QRect rate = charts.PlotRect(charts_ - 1);
  // The first record after the gap is 5 records' time later: bucket 506.
  const int column = ColumnOf(506);
  ASSERT_GE(column, 0);
  EXPECT_EQ(charts.Columns()[static_cast<size_t>(column)].gaps, 1u);
  EXPECT_EQ(charts.Picture().pixel(rate.left() + column, rate.top() + 2), CStripCharts::kGapMark);
  int marks = 0;
  for (int x = 0; x < rate.width(); ++x) marks += charts.Picture().pixel(rate.left() + x, rate.top() + 2) == CStripCharts::kGapMark;
  EXPECT_EQ(marks, 1);
}

}  // namespace
