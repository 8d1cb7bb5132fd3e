#include "RecordFeed.h"

#include <algorithm>

#include "DdsOptions.h"
#include "ThreadName.h"

namespace skarvdds {

sim::T_PlaybackRecord WordsOf(const skarv_msgs_msg_dds__SampleRecord_& s) {
  sim::T_PlaybackRecord w;
  w.count = s.count;
  w.rawDistance = s.raw_distance;
  w.width = s.width;
  w.scanState = s.scan_state;
  w.deltTime = s.delt_time;
  w.rawSupplyVoltage = s.raw_supply_voltage;
  w.rawAnaTemp = s.raw_ana_temp;
  w.laserPower = s.laser_power;
  w.auxWord = s.aux_word;
  std::copy(s.imu, s.imu + 10, w.imu.begin());
  return w;
}

CRecordFeed::CRecordFeed(const std::string& ns) {
  std::string error;
  const std::string topic = TopicName(ns, "records");
  if (!mParticipant.Open(error)) {
    mError = "DDS could not be started: " + error;
    return;
  }
  mReader = mParticipant.CreateReader(skarv_msgs_msg_dds__RecordBatch__desc, topic, true, kKeepAll, error);
  mWaitset = dds_create_waitset(mParticipant.Handle());
  mWake = dds_create_guardcondition(mParticipant.Handle());
  if (mReader <= 0 || mWaitset < 0 || mWake < 0 ||
      dds_waitset_attach(mWaitset, dds_create_readcondition(mReader, DDS_ANY_STATE), 1) < 0 ||
      dds_waitset_attach(mWaitset, mWake, 0) < 0) {
    mError = "DDS could not read " + topic + (error.empty() ? "" : ": " + error);
    mParticipant.Close();
    return;
  }
  mThread = std::thread([this] {
    NameThisThread("dds feed");
    Run();
  });
}

CRecordFeed::~CRecordFeed() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mStopping = true;
  }
  if (mThread.joinable()) {
    dds_set_guardcondition(mWake, true);
    mThread.join();
  }
  mParticipant.Close();
}

sim::CRecordSource::EResult CRecordFeed::Next(sim::T_PlaybackRecord& out) {
  if (!Active()) {
    return EResult::eError;
  }
  std::lock_guard<std::mutex> lock(mMutex);
  if (mQueue.empty()) {
    return EResult::eWait;
  }
  out = mQueue.front();
  mQueue.pop_front();
  return EResult::eRecord;
}

std::string CRecordFeed::Error() const { return mError; }

uint32_t CRecordFeed::MatchedPublishers() const {
  dds_subscription_matched_status_t status{};
  if (!Active() || dds_get_subscription_matched_status(mReader, &status) < 0) {
    return 0;
  }
  return status.current_count;
}

void CRecordFeed::Run() {
  while (true) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      if (mStopping) {
        return;
      }
    }
    dds_waitset_wait(mWaitset, nullptr, 0, DDS_MSECS(200));
    Take();
  }
}

void CRecordFeed::Take() {
  constexpr size_t kBatches = 16;
  while (true) {
    void* samples[kBatches] = {};
    dds_sample_info_t infos[kBatches];
    const dds_return_t n = dds_take(mReader, samples, infos, kBatches, kBatches);
    if (n <= 0) {
      return;
    }
    for (dds_return_t i = 0; i < n; ++i) {
      if (!infos[i].valid_data) {
        continue;
      }
      const auto& batch = *static_cast<const skarv_msgs_msg_dds__RecordBatch_*>(samples[i]);
      if (!mFirstBatch && batch.batch > mNextBatch) {
        mLostBatches.fetch_add(batch.batch - mNextBatch);
      }
      mFirstBatch = false;
      mNextBatch = batch.batch + 1;
      std::lock_guard<std::mutex> lock(mMutex);
      for (uint32_t r = 0; r < batch.records._length; ++r) {
        mQueue.push_back(WordsOf(batch.records._buffer[r]));
      }
    }
    dds_return_loan(mReader, samples, n);
  }
}

}  // namespace skarvdds
