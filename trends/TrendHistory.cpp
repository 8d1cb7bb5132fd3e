#include "TrendHistory.h"

#include <algorithm>

#include "TrendStore.h"

namespace trends {

bool CTrendHistory::Pull(const CTrendStore& store) {
  mIncoming.clear();
  const int64_t newest = Newest();
  // The newest held bucket was perhaps still filling: it is taken again.
  if (store.CopyFrom(newest < 0 ? 0 : newest, mIncoming) == 0) {
    return false;
  }
  if (newest >= 0 && mIncoming.front().index == newest) {
    if (mIncoming.size() == 1 && mIncoming.front().records == mBuckets.back().records) {
      return false;
    }
    mBuckets.pop_back();
  }
  for (const T_Bucket& bucket : mIncoming) {
    if (mBuckets.empty() || bucket.index > mBuckets.back().index) {
      mBuckets.push_back(bucket);
    }
  }
  // Held no longer than the store holds them.
  const int64_t oldest = Newest() - CTrendStore::kBuckets + 1;
  while (!mBuckets.empty() && mBuckets.front().index < oldest) {
    mBuckets.pop_front();
  }
  return true;
}

std::vector<T_Bucket> CTrendHistory::Buckets(int64_t from, int64_t to) const {
  std::vector<T_Bucket> out;
  auto first = std::lower_bound(mBuckets.begin(), mBuckets.end(), from,
                                [](const T_Bucket& bucket, int64_t index) { return bucket.index < index; });
  for (auto it = first; it != mBuckets.end() && it->index < to; ++it) {
    out.push_back(*it);
  }
  return out;
}

std::vector<T_Column> CTrendHistory::Columns(int64_t spanBuckets, int width) const {
  std::vector<T_Column> columns;
  Columns(spanBuckets, width, columns);
  return columns;
}

void CTrendHistory::Columns(int64_t spanBuckets, int width, std::vector<T_Column>& columns) const {
  columns.assign(static_cast<size_t>(std::max(width, 0)), T_Column{});
  if (width <= 0 || spanBuckets <= 0 || mBuckets.empty()) {
    return;
  }
  const int64_t start = SpanStart(spanBuckets);
  const int64_t newest = Newest();
  auto it = std::lower_bound(mBuckets.begin(), mBuckets.end(), start,
                             [](const T_Bucket& bucket, int64_t index) { return bucket.index < index; });
  for (int x = 0; x < width; ++x) {
    T_Column& column = columns[static_cast<size_t>(x)];
    column.firstBucket = start + spanBuckets * x / width;
    column.endBucket = std::max(start + spanBuckets * (x + 1) / width, column.firstBucket + 1);
    column.min.fill(std::numeric_limits<float>::infinity());
    column.max.fill(-std::numeric_limits<float>::infinity());
    std::array<double, kChannels> sums{};
    // A bucket wider than a column (more columns than buckets) is found
    // again by each column it spans.
    auto bucket = it;
    while (bucket != mBuckets.begin() && std::prev(bucket)->index >= column.firstBucket) --bucket;
    for (; bucket != mBuckets.end() && bucket->index < column.endBucket; ++bucket) {
      if (bucket->index < column.firstBucket || bucket->records == 0) continue;
      column.records += bucket->records;
      if (bucket->index < newest) column.rateRecords += bucket->records;
      column.gaps += bucket->gaps;
      column.missing += bucket->missing;
      for (int c = 0; c < kChannels; ++c) {
        column.min[c] = std::min(column.min[c], bucket->min[c]);
        column.max[c] = std::max(column.max[c], bucket->max[c]);
        sums[c] += bucket->sum[c];
      }
    }
    it = bucket;
    column.rateBuckets = std::max<int64_t>(std::min(column.endBucket, newest) - column.firstBucket, 0);
    for (int c = 0; c < kChannels && column.records > 0; ++c) {
      column.mean[c] = sums[c] / column.records;
    }
  }
}

}  // namespace trends
