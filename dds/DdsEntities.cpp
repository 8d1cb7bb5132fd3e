#include "DdsEntities.h"

#include <charconv>
#include <cstdlib>
#include <memory>

#include "RosTypeDescriptions.h"

namespace skarvdds {

namespace {

struct CQosDeleter {
  void operator()(dds_qos_t* qos) const { dds_delete_qos(qos); }
};

// The QoS of an endpoint of `descriptor`'s type: its USER_DATA begins with
// the type's hash, as ROS 2's own endpoints' does.
std::unique_ptr<dds_qos_t, CQosDeleter> Qos(const dds_topic_descriptor_t& descriptor, bool reliable, int32_t depth,
                                            const T_EndpointExtras& extras) {
  std::unique_ptr<dds_qos_t, CQosDeleter> qos(dds_create_qos());
  dds_qset_reliability(qos.get(), reliable ? DDS_RELIABILITY_RELIABLE : DDS_RELIABILITY_BEST_EFFORT,
                       DDS_MSECS(depth == kKeepAll ? kKeepAllBlockingMs : 100));
  dds_qset_durability(qos.get(), extras.transientLocal ? DDS_DURABILITY_TRANSIENT_LOCAL : DDS_DURABILITY_VOLATILE);
  if (depth == kKeepAll) {
    dds_qset_history(qos.get(), DDS_HISTORY_KEEP_ALL, 0);
  } else {
    dds_qset_history(qos.get(), DDS_HISTORY_KEEP_LAST, depth);
  }
  if (extras.livelinessMs > 0) {
    dds_qset_liveliness(qos.get(), DDS_LIVELINESS_AUTOMATIC, DDS_MSECS(extras.livelinessMs));
  }
  const std::string_view typeHash = TypeHashOf(descriptor.m_typename);
  const std::string userData = (typeHash.empty() ? std::string() : UserDataEntry(kTypeHashKey, typeHash)) +
                               extras.userData;
  if (!userData.empty()) {
    dds_qset_userdata(qos.get(), userData.data(), userData.size());
  }
  if (extras.maxSamples > 0) {
    dds_qset_resource_limits(qos.get(), extras.maxSamples, DDS_LENGTH_UNLIMITED, DDS_LENGTH_UNLIMITED);
  }
  return qos;
}

std::string Reason(dds_return_t code) { return dds_strretcode(code); }

}  // namespace

bool DomainFromEnvironment(uint32_t& domain, std::string& error) {
  const char* text = std::getenv("ROS_DOMAIN_ID");
  domain = 0;
  if (!text || !*text) {
    return true;
  }
  const char* end = text + std::char_traits<char>::length(text);
  const auto [ptr, ec] = std::from_chars(text, end, domain);
  if (ec != std::errc() || ptr != end) {
    error = std::string("ROS_DOMAIN_ID '") + text + "' is not a domain number";
    return false;
  }
  // DDS would take a larger number modulo its port range, or in Cyclone's
  // case 0xffffffff as "the default domain": another robot's domain, joined
  // without a word.
  if (domain > kMaxDomain) {
    error = std::string("ROS_DOMAIN_ID '") + text + "' is out of range: a domain is from 0 to " +
            std::to_string(kMaxDomain);
    domain = 0;
    return false;
  }
  return true;
}

CDdsParticipant::~CDdsParticipant() { Close(); }

void CDdsParticipant::Close() {
  if (mHandle > 0) {
    dds_delete(mHandle);
  }
  mHandle = 0;
}

bool CDdsParticipant::Open(std::string& error) {
  if (!DomainFromEnvironment(mDomain, error)) {
    return false;
  }
  const dds_entity_t handle = dds_create_participant(mDomain, nullptr, nullptr);
  if (handle < 0) {
    error = "domain " + std::to_string(mDomain) + " could not be joined (" + Reason(handle) +
            "): is there a network interface?";
    return false;
  }
  mHandle = handle;
  return true;
}

dds_entity_t CDdsParticipant::Topic(const dds_topic_descriptor_t& descriptor, const std::string& topic,
                                    std::string& error) {
  const dds_entity_t handle = dds_create_topic(mHandle, &descriptor, topic.c_str(), nullptr, nullptr);
  if (handle < 0) {
    error = "no topic " + topic + " (" + Reason(handle) + ")";
    return 0;
  }
  return handle;
}

dds_entity_t CDdsParticipant::CreateWriter(const dds_topic_descriptor_t& descriptor, const std::string& topic,
                                           int32_t depth, std::string& error, const T_EndpointExtras& extras) {
  const dds_entity_t topicHandle = Topic(descriptor, topic, error);
  if (topicHandle <= 0) {
    return 0;
  }
  const auto qos = Qos(descriptor, !extras.bestEffort, depth, extras);
  const dds_entity_t writer = dds_create_writer(mHandle, topicHandle, qos.get(), extras.listener);
  if (writer < 0) {
    error = "no writer on " + topic + " (" + Reason(writer) + ")";
    return 0;
  }
  return writer;
}

dds_entity_t CDdsParticipant::CreateReader(const dds_topic_descriptor_t& descriptor, const std::string& topic,
                                           bool reliable, int32_t depth, std::string& error,
                                           const T_EndpointExtras& extras) {
  const dds_entity_t topicHandle = Topic(descriptor, topic, error);
  if (topicHandle <= 0) {
    return 0;
  }
  const auto qos = Qos(descriptor, reliable, depth, extras);
  const dds_entity_t reader = dds_create_reader(mHandle, topicHandle, qos.get(), extras.listener);
  if (reader < 0) {
    error = "no reader on " + topic + " (" + Reason(reader) + ")";
    return 0;
  }
  return reader;
}

}  // namespace skarvdds
