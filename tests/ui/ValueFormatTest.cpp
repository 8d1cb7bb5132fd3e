#include <gtest/gtest.h>

#include <clocale>

#include "ValueFormat.h"

namespace {

TEST(ValueFormat, TwoDecimalsWithAFullStopInAnyLocale) {
  EXPECT_EQ(ui::FormatF2(150.456), "150.46");
  EXPECT_EQ(ui::FormatF2(37.999), "38.00");
  EXPECT_EQ(ui::FormatF2(25.678), "25.68");
  EXPECT_EQ(ui::FormatF2(-3.5), "-3.50");
  EXPECT_EQ(ui::FormatF2(-0.001), "0.00");
  EXPECT_EQ(ui::FormatF2(0.0), "0.00");
  EXPECT_EQ(ui::FormatF2(12.4155), "12.42");
  // A locale with a decimal comma, where one is installed, changes nothing.
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "fr_FR.UTF-8")) {
    EXPECT_EQ(ui::FormatF2(150.456), "150.46");
  }
  std::setlocale(LC_ALL, "C");
}

TEST(ValueFormat, DecimalIntegersOnly) {
  int32_t value = -1;
  EXPECT_TRUE(ui::ParseInt32("40", value));
  EXPECT_EQ(value, 40);
  EXPECT_TRUE(ui::ParseInt32("  150  ", value));
  EXPECT_EQ(value, 150);
  EXPECT_TRUE(ui::ParseInt32("-7", value));
  EXPECT_EQ(value, -7);
  EXPECT_TRUE(ui::ParseInt32("+5", value));
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(ui::ParseInt32("2147483647", value));
  EXPECT_EQ(value, 2147483647);
  EXPECT_TRUE(ui::ParseInt32("-2147483648", value));
  EXPECT_EQ(value, INT32_MIN);
  for (const char* bad : {"", "   ", "abc", "12abc", "12 3", "99999999999", "2147483648", "+-1", "--1", "1.5", "0x10",
                          "+"}) {
    value = 123;
    EXPECT_FALSE(ui::ParseInt32(bad, value)) << '"' << bad << '"';
    EXPECT_EQ(value, 123) << "left alone on failure";
  }
}

TEST(ValueFormat, BarsTruncateAndFillAtTheirMaximum) {
  EXPECT_EQ(ui::BarValue(150.456, 120), 120);
  EXPECT_EQ(ui::BarValue(37.999, 120), 37);
  EXPECT_EQ(ui::BarValue(2500, 2000), 2000);
  EXPECT_EQ(ui::BarValue(25.678, 180), 25);
  EXPECT_EQ(ui::BarValue(120, 120), 120);
  EXPECT_EQ(ui::BarValue(-4.5, 180), 0) << "a bar never goes below empty";
  EXPECT_EQ(ui::BarValue(5, 0), 0) << "limits not yet set: the bar stays empty";
}

}  // namespace
