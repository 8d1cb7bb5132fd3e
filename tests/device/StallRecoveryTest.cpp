// The data path after the client stood still while the bus ran on, as when
// the machine was suspended or too busy to run the scan view's timer.

#include <algorithm>

#include "EndToEndFixture.h"

namespace {

class StallRecovery : public EndToEndFixture, public ::testing::WithParamInterface<uint32_t> {
 protected:
  // Runs updates every 10 ms of bus time until the controller decodes a
  // sample that reached a transfer after the first `from` ones; returns the
  // bus time that took, or `limit` when it never did.
  uint32_t MillisecondsUntilDecoding(size_t from, uint32_t limit, std::string& printed) {
    const int stale = controller->mRecordCount;
    for (uint32_t ms = 10; ms <= limit; ms += 10) {
      printed += Run(10);
      if (controller->mRecordCount == stale) continue;
      const std::vector<uint16_t> counts = Sent();
      const auto last = static_cast<uint16_t>(controller->mRecordCount);
      if (counts.size() > from && std::find(counts.begin() + static_cast<long>(from), counts.end(), last) != counts.end()) {
        return ms;
      }
    }
    return limit;
  }
};

TEST_P(StallRecovery, StreamFlowsAgainSoonAfterTheClientRunsAgain) {
  Run(2000);
  ASSERT_GT(Sent().size(), 0u) << "streaming before the stall";

  // The client stands still; the bus and the sensor go on.
  bus->Advance(GetParam());
  const size_t before = Sent().size();

  std::string printed;
  const uint32_t took = MillisecondsUntilDecoding(before, 16'000, printed);
  EXPECT_LT(took, 2000u) << printed.substr(0, 2000);

  // From there on the stream is whole again: one jump over the stall at most.
  printed = Run(1500);
  EXPECT_EQ(printed.find("Skiped"), std::string::npos) << printed.substr(0, 2000);
}

// Shorter than the ring, longer than the lead of a fresh start, and a
// suspended laptop.
INSTANTIATE_TEST_SUITE_P(Stalls, StallRecovery, ::testing::Values(100u, 300u, 2000u, 10'000u));

}  // namespace
