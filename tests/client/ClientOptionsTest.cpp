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

}  // namespace
