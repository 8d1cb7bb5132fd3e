#pragma once
// A reader's samples gathered as they arrive, as a ROS 2 subscription takes
// them, together with the encapsulation every sample came in: the two bytes
// in front of a serialized sample that name its representation and byte
// order (0x00 0x01: plain CDR, XCDR1, little-endian).

#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/DataReaderListener.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>
#include <fastdds/dds/topic/TypeSupport.hpp>
#include <fastdds/rtps/common/SerializedPayload.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "FastDdsNode.h"

namespace interop {

// The encapsulations seen, as the first two bytes of each payload.
class CEncapsulations {
 public:
  void Saw(const eprosima::fastrtps::rtps::SerializedPayload_t& payload) {
    if (payload.length < 2) return;
    std::lock_guard<std::mutex> lock(mMutex);
    mSeen.insert(static_cast<uint16_t>(payload.data[0] << 8 | payload.data[1]));
  }
  std::set<uint16_t> Seen() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mSeen;
  }

 private:
  mutable std::mutex mMutex;
  std::set<uint16_t> mSeen;
};

inline constexpr uint16_t kPlainCdrLittleEndian = 0x0001;

// The generated type, noting each payload's encapsulation before taking it
// apart. A participant keeps the first registered of a name for all its
// topics of that type.
template <typename PubSubType>
class CWatchedType : public PubSubType {
 public:
  bool deserialize(eprosima::fastrtps::rtps::SerializedPayload_t* payload, void* data) override {
    mSeen->Saw(*payload);
    return PubSubType::deserialize(payload, data);
  }
  std::shared_ptr<CEncapsulations> Seen() const { return mSeen; }

 private:
  std::shared_ptr<CEncapsulations> mSeen = std::make_shared<CEncapsulations>();
};

template <typename PubSubType>
class CTopicCollector : public eprosima::fastdds::dds::DataReaderListener {
 public:
  using T = typename PubSubType::type;

  // Reads `topic` on `node` with `qos` from now until destroyed.
  CTopicCollector(CFastDdsNode& node, const std::string& topic, const T_RosQos& qos)
      : mNode(node) {
    mReader = node.CreateReader(topic, eprosima::fastdds::dds::TypeSupport(new CWatchedType<PubSubType>()), qos, this);
    if (!mReader) return;
    const auto* watched = dynamic_cast<const CWatchedType<PubSubType>*>(mReader->type().get());
    mSeen = watched ? watched->Seen() : std::make_shared<CEncapsulations>();
  }
  ~CTopicCollector() override {
    if (!mReader) return;
    mReader->set_listener(nullptr);
    mNode.DeleteReader(mReader);
  }
  CTopicCollector(const CTopicCollector&) = delete;
  CTopicCollector& operator=(const CTopicCollector&) = delete;

  bool Ok() const { return mReader != nullptr; }

  void on_data_available(eprosima::fastdds::dds::DataReader* reader) override {
    T sample;
    eprosima::fastdds::dds::SampleInfo info;
    while (reader->take_next_sample(&sample, &info) == ReturnCode_t::RETCODE_OK) {
      if (!info.valid_data) continue;
      std::lock_guard<std::mutex> lock(mMutex);
      mSamples.push_back(sample);
    }
  }
  void on_subscription_matched(eprosima::fastdds::dds::DataReader*,
                               const eprosima::fastdds::dds::SubscriptionMatchedStatus& status) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mMatched = status.current_count;
  }

  std::vector<T> Samples() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mSamples;
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mSamples.size();
  }
  int32_t Matched() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mMatched;
  }
  // Of every topic of this type the participant reads.
  std::set<uint16_t> Encapsulations() const { return mSeen ? mSeen->Seen() : std::set<uint16_t>{}; }

 private:
  CFastDdsNode& mNode;
  std::shared_ptr<CEncapsulations> mSeen;
  eprosima::fastdds::dds::DataReader* mReader = nullptr;
  mutable std::mutex mMutex;
  std::vector<T> mSamples;
  int32_t mMatched = 0;
};

}  // namespace interop
