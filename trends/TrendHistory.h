#pragma once
// A reader's copy of the trend store (the trends window's, on the GUI
// thread): each Pull copies only the buckets that are new since the last
// one, and the newest again, as it was still filling. From it come the
// columns of a chart: each pixel column covers the buckets of its slice of
// the span, the least of their least values and the greatest of their
// greatest, so no record's extreme is hidden however many buckets a column
// covers; a bucket wider than a column still lands in one.

#include <cstdint>
#include <deque>
#include <vector>

#include "TrendChannels.h"

namespace trends {

class CTrendStore;

struct T_Column {
  int64_t firstBucket = 0;  // the buckets it covers: [firstBucket, endBucket)
  int64_t endBucket = 0;
  uint32_t records = 0;
  uint32_t gaps = 0;
  uint32_t missing = 0;
  std::array<float, kChannels> min{};
  std::array<float, kChannels> max{};
  std::array<double, kChannels> mean{};  // over its records

  // The records per second count only whole buckets: the newest, still
  // filling, is left out of them.
  uint32_t rateRecords = 0;
  int64_t rateBuckets = 0;

  bool Empty() const { return records == 0; }
  double StartSeconds() const { return static_cast<double>(firstBucket) * kBucketSeconds; }
  double EndSeconds() const { return static_cast<double>(endBucket) * kBucketSeconds; }
  bool HasRate() const { return rateBuckets > 0; }
  // Records received per second of the sensor's time its whole buckets cover.
  double RecordsPerSecond() const { return HasRate() ? rateRecords / (rateBuckets * kBucketSeconds) : 0.0; }
};

class CTrendHistory {
 public:
  // Copies what is new in `store`; false when nothing changed.
  bool Pull(const CTrendStore& store);
  // The newest bucket's index, -1 while none is held.
  int64_t Newest() const { return mBuckets.empty() ? -1 : mBuckets.back().index; }
  // The held buckets of [from, to), oldest first.
  std::vector<T_Bucket> Buckets(int64_t from, int64_t to) const;
  // `width` columns over the `spanBuckets` buckets that end with the newest.
  std::vector<T_Column> Columns(int64_t spanBuckets, int width) const;
  // The same into `columns`, reusing its storage.
  void Columns(int64_t spanBuckets, int width, std::vector<T_Column>& columns) const;
  // The first bucket of the span that ends with the newest.
  int64_t SpanStart(int64_t spanBuckets) const { return Newest() + 1 - spanBuckets; }

 private:
  std::deque<T_Bucket> mBuckets;  // oldest first, ascending indexes
  std::vector<T_Bucket> mIncoming;
};

}  // namespace trends
