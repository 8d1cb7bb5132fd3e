// Updates ride along with the scans' wake-ups only while scans come, and
// none is lost or run out of order when they stop.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "SharedWake.h"

namespace {

using ui::CSharedWake;
using std::chrono::milliseconds;

TEST(SharedWake, TasksRideWithScansWhileTheyComeAndArePostedInOrderWhenTheyStop) {
  CSharedWake wake;
  std::string ran;
  std::vector<CSharedWake::Task> posted;
  const auto post = [&posted](CSharedWake::Task task) { posted.push_back(std::move(task)); };
  const auto task = [&ran](char name) { return [&ran, name] { ran += name; }; };
  const CSharedWake::Clock::time_point t0{};

  // No scan yet: posted at once.
  wake.Post(task('a'), post, t0);
  ASSERT_EQ(posted.size(), 1u);
  posted.back()();
  EXPECT_EQ(ran, "a");

  // A scan on its way carries what is posted before it arrives, however late.
  wake.CarrierPosted(t0);
  wake.Post(task('b'), post, t0 + milliseconds(500));
  EXPECT_EQ(posted.size(), 1u);
  wake.RunKept();
  EXPECT_EQ(ran, "ab");

  // Scans have been coming: the next one is waited for...
  wake.Post(task('c'), post, t0 + milliseconds(10));
  EXPECT_EQ(posted.size(), 1u);
  // ...but when none came before the following update, both are posted,
  // the older first.
  wake.Post(task('d'), post, t0 + milliseconds(20));
  ASSERT_EQ(posted.size(), 2u);
  posted.back()();
  EXPECT_EQ(ran, "abcd");
  wake.RunKept();
  EXPECT_EQ(ran, "abcd") << "nothing runs twice";

  // Scans that stopped longer ago than a scan's gap are not waited for.
  wake.CarrierPosted(t0 + milliseconds(100));
  wake.RunKept();
  wake.Post(task('e'), post, t0 + milliseconds(100) + CSharedWake::kCarrierGap + milliseconds(1));
  ASSERT_EQ(posted.size(), 3u);
  posted.back()();
  EXPECT_EQ(ran, "abcde");
}

}  // namespace
