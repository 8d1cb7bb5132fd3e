#include <gtest/gtest.h>

#include "ClientOptions.h"

namespace {

TEST(ClientOptions, SimulateHelpAndNothingElse) {
  EXPECT_FALSE(ParseClientOptions({}).simulate);
  EXPECT_TRUE(ParseClientOptions({}).error.empty());
  EXPECT_TRUE(ParseClientOptions({"--simulate"}).simulate);
  EXPECT_FALSE(ParseClientOptions({"--simulate"}).quiet);
  const T_ClientOptions quiet = ParseClientOptions({"--quiet", "--simulate"});
  EXPECT_TRUE(quiet.quiet);
  EXPECT_TRUE(quiet.simulate);
  EXPECT_TRUE(quiet.error.empty());
  EXPECT_TRUE(ParseClientOptions({"--help"}).help);
  EXPECT_TRUE(ParseClientOptions({"-h"}).help);
  EXPECT_EQ(ParseClientOptions({"--simulate", "--fast"}).error, "unknown argument '--fast'");
  EXPECT_FALSE(ParseClientOptions({"simulate"}).error.empty());
  const std::string usage = ClientUsage("skarv-client");
  EXPECT_NE(usage.find("--simulate"), std::string::npos);
  EXPECT_NE(usage.find("--quiet"), std::string::npos);
  EXPECT_NE(usage.find("virtual sensor"), std::string::npos);
  EXPECT_NE(usage.find("waits"), std::string::npos);
}

TEST(ClientOptions, ReplayTakesAFileAndLoopNeedsIt) {
  const T_ClientOptions replay = ParseClientOptions({"--replay", "r.csv", "--loop", "--quiet"});
  EXPECT_EQ(replay.replay, "r.csv");
  EXPECT_TRUE(replay.loop);
  EXPECT_TRUE(replay.quiet);
  EXPECT_TRUE(replay.error.empty());
  EXPECT_FALSE(ParseClientOptions({"--replay", "r.csv"}).loop);
  EXPECT_EQ(ParseClientOptions({"--replay"}).error, "--replay needs the recording's file name");
  EXPECT_EQ(ParseClientOptions({"--loop"}).error, "--loop needs --replay");
  EXPECT_EQ(ParseClientOptions({"--simulate", "--replay", "r.csv"}).error,
            "--simulate and --replay cannot be used together");
  const std::string usage = ClientUsage("skarv-client");
  EXPECT_NE(usage.find("--replay FILE"), std::string::npos);
  EXPECT_NE(usage.find("--loop"), std::string::npos);
}

}  // namespace
