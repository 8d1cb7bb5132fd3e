#include "TrendStore.h"

#include "PanelReadings.h"
#include "RecordSequence.h"
#include "SampleFrameCodec.h"

namespace trends {

CTrendStore::CTrendStore() : mRing(static_cast<size_t>(kBuckets)) {}

void CTrendStore::Add(std::span<const kiv::T_RawRecord> records) {
  std::lock_guard<std::mutex> lock(mMutex);
  for (const kiv::T_RawRecord& raw : records) {
    uint16_t missing = 0;
    if (mAnyRecord) {
      missing = kiv::MissingRecords(mLast.count, raw.count);
      // Lost records took the time of the last one each; more than a
      // second's worth is no loss within the stream but a new start (a
      // sensor opened again), whose time goes on from the last record's.
      const uint64_t lost = static_cast<uint64_t>(missing) * mLast.DeltTime();
      mUnits += lost <= static_cast<uint64_t>(kUnitsPerSecond) ? lost : 0;
    }
    mUnits += raw.DeltTime();
    const int64_t index = static_cast<int64_t>(mUnits / kBucketUnits);
    const bool newHeader = !mAnyRecord || !raw.SameHeader(mLast);
    if (index != mNewest || newHeader) {
      FlushHeaderRun();
    }
    if (index != mNewest) {
      MoveTo(index);
    }
    const kiv::T_Record scaled = kiv::ScaledRecord(raw);
    if (mRunLength == 0) {
      StartHeaderRun(scaled);
    }
    ++mRunLength;
    T_Bucket& bucket = Slot(index);
    ++bucket.records;
    if (missing != 0) {
      ++bucket.gaps;
      bucket.missing += missing;
    }
    mFilter.Add(scaled.Distance);
    // The current distance and width as the panel shows them: 0 out of range.
    const bool out = panel::OutOfRange(scaled.Distance, static_cast<double>(scaled.Width));
    bucket.Take(eDistance, out ? 0.0 : scaled.Distance, 1);
    bucket.Take(eWidth, out ? 0.0 : static_cast<double>(scaled.Width), 1);
    bucket.Take(eFiltered, mFilter.Filtered(), 1);
    bucket.Take(eStdDev, mFilter.StdDev(), 1);
    mLast = raw;
    mAnyRecord = true;
  }
}

void CTrendStore::StartHeaderRun(const kiv::T_Record& scaled) {
  const kiv::T_IMURecord& header = scaled.IMURecord;
  mRunValues[eLaserTemp - eLaserTemp] = header.AnaTemp;
  mRunValues[eImuTemp - eLaserTemp] = panel::ImuTemperature(panel::ImuValue(header.IMU[kiv::eIMUTemp]));
  mRunValues[eSupply - eLaserTemp] = header.SupplyVoltage;
  static constexpr int kAxes[] = {kiv::eAccelX, kiv::eAccelY, kiv::eAccelZ, kiv::eGyroX, kiv::eGyroY,
                                  kiv::eGyroZ,  kiv::eMagX,   kiv::eMagY,   kiv::eMagZ};
  for (int i = 0; i < 9; ++i) {
    mRunValues[eAccelX - eLaserTemp + i] = panel::ImuValue(header.IMU[kAxes[i]]);
  }
}

void CTrendStore::FlushHeaderRun() {
  if (mRunLength == 0) {
    return;
  }
  T_Bucket& bucket = Slot(mNewest);
  for (int i = 0; i < kHeaderChannels; ++i) {
    bucket.Take(eLaserTemp + i, mRunValues[i], mRunLength);
  }
  mRunLength = 0;
}

void CTrendStore::MoveTo(int64_t index) {
  // Buckets passed over hold nothing; past a whole ring, only the ring's
  // worth before `index` needs clearing.
  int64_t from = mNewest < 0 ? index : mNewest + 1;
  if (index - from >= kBuckets) {
    from = index - kBuckets + 1;
  }
  for (int64_t i = from; i < index; ++i) {
    Slot(i).Clear(-1);
  }
  Slot(index).Clear(index);
  mNewest = index;
}

int64_t CTrendStore::Newest() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mNewest;
}

size_t CTrendStore::CopyFrom(int64_t from, std::vector<T_Bucket>& out) const {
  std::lock_guard<std::mutex> lock(mMutex);
  if (mNewest < 0) {
    return 0;
  }
  if (from < mNewest - kBuckets + 1) {
    from = mNewest - kBuckets + 1;
  }
  if (from < 0) {
    from = 0;
  }
  size_t appended = 0;
  for (int64_t i = from; i <= mNewest; ++i) {
    const T_Bucket& bucket = Slot(i);
    if (bucket.index != i) {
      continue;
    }
    out.push_back(bucket);
    ++appended;
  }
  // The newest bucket with the readings of the run still open.
  if (appended > 0 && out.back().index == mNewest) {
    for (int i = 0; i < kHeaderChannels && mRunLength > 0; ++i) {
      out.back().Take(eLaserTemp + i, mRunValues[i], mRunLength);
    }
  }
  return appended;
}

}  // namespace trends
