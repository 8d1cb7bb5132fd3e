// The Replay window driving a replay's steering, as the operator's clicks
// would, over a recording indexed for real.

#include <gtest/gtest.h>

#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "CsvColumns.h"
#include "CsvLine.h"
#include "CsvReader.h"
#include "QtApp.h"
#include "RecordingIndex.h"
#include "ReplayControls.h"
#include "ReplaySteering.h"

namespace {

namespace fs = std::filesystem;
using recording::CReplaySteering;

TEST(ReplayControls, ClicksPauseStepSetTheSpeedAndSeekAndTheLabelShowsThePlace) {
  TestApp();
  char pattern[] = "/tmp/skarv-controls-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path file = fs::path(pattern) / "r.csv";
  {
    std::ofstream out(file, std::ios::binary);
    out << recording::CsvHeader() << "\n";
    for (unsigned n = 0; n < 5000; ++n) {
      kiv::T_RawRecord record;
      record.count = static_cast<uint16_t>(n);
      record.flags = kiv::T_RawRecord::FlagsOf(n / 1000 % 2, 100);  // 1 ms apart, scans of 1000
      char line[recording::kCsvLineCapacity];
      out.write(line, static_cast<std::streamsize>(recording::FormatCsvLine(record, line)));
    }
  }
  auto index = std::make_shared<recording::CRecordingIndex>([&](std::string& why) {
    auto reader = std::make_unique<recording::CCsvReader>(file.string());
    if (!reader->Open()) why = reader->Error();
    return std::unique_ptr<recording::CRecordSource>(std::move(reader));
  });
  auto steering = std::make_shared<CReplaySteering>(index, 1.0);
  ui::CReplayControls controls(steering);
  EXPECT_EQ(controls.windowTitle(), "Replay");
  EXPECT_EQ(controls.SpeedChooser()->currentText(), QString::fromUtf8("1\u00d7")) << "the speed it was started at";
  CReplaySteering::T_Orders orders;
  EXPECT_FALSE(steering->TakeOrders(orders)) << "nothing asked before a click";

  controls.PlayButton()->click();
  EXPECT_TRUE(steering->Paused());
  EXPECT_EQ(controls.PlayButton()->text(), "Play");
  controls.ForwardButton()->click();
  controls.ForwardButton()->click();
  controls.BackButton()->click();
  ASSERT_TRUE(steering->TakeOrders(orders));
  EXPECT_TRUE(orders.paused);
  EXPECT_EQ(orders.stepScans, 1);
  controls.PlayButton()->click();
  EXPECT_FALSE(steering->Paused());
  EXPECT_EQ(controls.PlayButton()->text(), "Pause");

  const int eight = controls.SpeedChooser()->findText(QString::fromUtf8("8\u00d7"));
  ASSERT_GE(eight, 0);
  controls.SpeedChooser()->setCurrentIndex(eight);
  emit controls.SpeedChooser()->activated(eight);
  EXPECT_EQ(steering->Speed(), 8.0);

  index->AwaitComplete();
  controls.Refresh();
  EXPECT_EQ(controls.Slider()->maximum(), 4999);
  EXPECT_EQ(controls.PlaceLabel()->text(), QString::fromUtf8("0.000 s · record 0 of 5\u2009000"));

  // A drag let go at record 2500: a seek there, and the label follows it.
  controls.Slider()->setSliderDown(true);
  controls.Slider()->setSliderPosition(2500);
  controls.Slider()->setSliderDown(false);
  ASSERT_TRUE(steering->TakeOrders(orders));
  ASSERT_TRUE(orders.seek.has_value());
  EXPECT_EQ(*orders.seek, 2500u);
  EXPECT_EQ(controls.PlaceLabel()->text(), QString::fromUtf8("2.000 s · record 2\u2009500 of 5\u2009000"))
      << "the time of the index entry at or before it, until it is played";
  steering->NotePlayed(2750, 275000);
  controls.Refresh();
  EXPECT_EQ(controls.Slider()->value(), 2750);
  EXPECT_EQ(controls.PlaceLabel()->text(), QString::fromUtf8("2.750 s · record 2\u2009750 of 5\u2009000"));
  fs::remove_all(pattern);
}

}  // namespace
