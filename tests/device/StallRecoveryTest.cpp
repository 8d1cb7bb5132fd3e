// The data path after a stall: the client stood still while the bus ran on
// (a suspended machine, a machine too busy to run the scan view's timer), or
// no packet reached the host for a while.

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

  // Fresh samples decoded within 2 s of bus time from now, and from then on
  // a whole stream: the stall leaves one jump at most.
  void ExpectFlowingSoon(std::string printed) {
    const uint32_t took = MillisecondsUntilDecoding(Sent().size(), 16'000, printed);
    EXPECT_LT(took, 2000u) << printed.substr(printed.size() > 3000 ? printed.size() - 3000 : 0);
    printed = Run(1500);
    EXPECT_EQ(printed.find("Skiped"), std::string::npos) << printed.substr(0, 2000);
  }
};

TEST_P(StallRecovery, StreamFlowsAgainSoonAfterTheClientRunsAgain) {
  Run(2000);
  ASSERT_GT(Sent().size(), 0u) << "streaming before the stall";

  // The client stands still; the bus and the sensor go on.
  bus->Advance(GetParam());
  ExpectFlowingSoon("");
}

// The same before the stream ever started: the sensor was opened, then the
// first update came late.
TEST_P(StallRecovery, StreamStartsSoonWhenTheFirstUpdateComesLate) {
  bus->Advance(GetParam());
  ExpectFlowingSoon("");
}

// Shorter than the ring, longer than the lead of a fresh start, and a
// suspended laptop.
INSTANTIATE_TEST_SUITE_P(Stalls, StallRecovery, ::testing::Values(100u, 300u, 2000u, 10'000u));

// The other way round: the client polls on while no packet reaches the host.
// Blocks time out and re-synchronise meanwhile; once packets come again the
// stream is back as soon.
class StreamStall : public StallRecovery {};

TEST_P(StreamStall, StreamFlowsAgainSoonAfterPacketsComeAgain) {
  Run(2000);
  bus->SetStreamStalled(true);
  std::string printed = Run(GetParam());
  bus->SetStreamStalled(false);
  ExpectFlowingSoon(printed);
}

// Before any block times out, just after one has re-synchronised, and long.
INSTANTIATE_TEST_SUITE_P(Stalls, StreamStall, ::testing::Values(500u, 1300u, 2500u, 2700u, 10'000u));

}  // namespace
