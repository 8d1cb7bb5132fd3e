// skarv-record's command line.

#include <gtest/gtest.h>

#include "RecordOptions.h"

namespace {

TEST(RecordOptions, TakesEveryOptionInBothSpellings) {
  T_RecordOptions options = ParseRecordOptions(
      {"--replay", "in.csv", "--speed=0", "--loop", "--duration", "2.5", "--output-dir=out", "--wait", "0", "--quiet"});
  ASSERT_EQ(options.error, "");
  EXPECT_EQ(options.replay, "in.csv");
  EXPECT_EQ(options.speed, 0.0);
  EXPECT_TRUE(options.loop);
  EXPECT_EQ(options.duration, 2.5);
  EXPECT_EQ(options.outputDir, "out");
  EXPECT_EQ(options.wait, 0.0);
  EXPECT_TRUE(options.quiet);
  EXPECT_FALSE(options.simulate);
  EXPECT_TRUE(ParseRecordOptions({"--simulate", "-h"}).help);
}

TEST(RecordOptions, RefusesWhatCannotBeUsedAndSaysWhy) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--bogus"}, "unknown argument '--bogus'"},
      {{"--duration"}, "option '--duration' needs a value"},
      {{"--duration", "0"}, "option '--duration' needs a number of seconds above 0, not '0'"},
      {{"--duration", "10s"}, "option '--duration' needs a number of seconds above 0, not '10s'"},
      {{"--wait=-1"}, "option '--wait' needs a number of seconds, not '-1'"},
      {{"--wait", "inf"}, "option '--wait' needs a number of seconds, not 'inf'"},
      {{"--replay", "a.csv", "--speed", "-2"}, "option '--speed' needs a factor of 0 or more, not '-2'"},
      {{"--speed", "2"}, "--speed needs --replay"},
      {{"--loop"}, "--loop needs --replay"},
      {{"--simulate", "--replay", "a.csv"}, "--simulate and --replay cannot be used together"},
      {{"--quiet=yes"}, "option '--quiet' takes no value"},
      {{"--output-dir="}, "option '--output-dir' needs a folder"},
  };
  for (const auto& [arguments, error] : cases) {
    EXPECT_EQ(ParseRecordOptions(arguments).error, error) << arguments.front();
  }
}

}  // namespace
