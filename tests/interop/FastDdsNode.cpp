#include "FastDdsNode.h"

#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastdds/dds/publisher/qos/DataWriterQos.hpp>
#include <fastdds/dds/subscriber/qos/DataReaderQos.hpp>
#include <fastdds/dds/topic/Topic.hpp>

namespace interop {

namespace dds = eprosima::fastdds::dds;

namespace {

constexpr const char* kProfile = "skarv_loopback";

// What rmw_fastrtps sets on every reader and writer: the ROS 2 profile's
// reliability, durability and history, and its own memory, data-sharing and
// representation choices.
template <typename Qos>
void ApplyRosQos(const T_RosQos& ros, Qos& qos) {
  qos.reliability().kind = ros.reliable ? dds::RELIABLE_RELIABILITY_QOS : dds::BEST_EFFORT_RELIABILITY_QOS;
  qos.durability().kind = ros.transientLocal ? dds::TRANSIENT_LOCAL_DURABILITY_QOS : dds::VOLATILE_DURABILITY_QOS;
  if (ros.depth == 0) {
    qos.history().kind = dds::KEEP_ALL_HISTORY_QOS;
  } else {
    qos.history().kind = dds::KEEP_LAST_HISTORY_QOS;
    qos.history().depth = ros.depth;
  }
  qos.endpoint().history_memory_policy = eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
  qos.data_sharing().off();
}

// The data representation, XCDR1 alone; a reader's sits in its type
// consistency policy in this Fast DDS.
void OnlyXcdr1(dds::DataRepresentationQosPolicy& representation) {
  representation.m_value.clear();
  representation.m_value.push_back(dds::XCDR_DATA_REPRESENTATION);
}

}  // namespace

CFastDdsNode::CFastDdsNode(uint32_t domain) {
  dds::DomainParticipantFactory* factory = dds::DomainParticipantFactory::get_instance();
  // Loading the same file again (a second node in one process) is harmless.
  if (factory->load_XML_profiles_file(SKARV_FASTDDS_LOOPBACK_PROFILE) != ReturnCode_t::RETCODE_OK) return;
  mParticipant = factory->create_participant_with_profile(domain, kProfile);
  if (!mParticipant) return;
  mSubscriber = mParticipant->create_subscriber(dds::SUBSCRIBER_QOS_DEFAULT);
  mPublisher = mParticipant->create_publisher(dds::PUBLISHER_QOS_DEFAULT);
}

CFastDdsNode::~CFastDdsNode() {
  if (!mParticipant) return;
  mParticipant->delete_contained_entities();
  dds::DomainParticipantFactory::get_instance()->delete_participant(mParticipant);
}

dds::Topic* CFastDdsNode::TopicFor(const std::string& topic, dds::TypeSupport& type) {
  if (dds::TopicDescription* known = mParticipant->lookup_topicdescription(topic)) {
    return dynamic_cast<dds::Topic*>(known);
  }
  if (!mParticipant->find_type(type.get_type_name()) &&
      mParticipant->register_type(type) != ReturnCode_t::RETCODE_OK) {
    return nullptr;
  }
  return mParticipant->create_topic(topic, type.get_type_name(), dds::TOPIC_QOS_DEFAULT);
}

dds::DataReader* CFastDdsNode::CreateReader(const std::string& topic, dds::TypeSupport type, const T_RosQos& ros,
                                            dds::DataReaderListener* listener) {
  if (!Ok()) return nullptr;
  dds::Topic* described = TopicFor(topic, type);
  if (!described) return nullptr;
  dds::DataReaderQos qos = mSubscriber->get_default_datareader_qos();
  ApplyRosQos(ros, qos);
  OnlyXcdr1(qos.type_consistency().representation);
  return mSubscriber->create_datareader(described, qos, listener);
}

dds::DataWriter* CFastDdsNode::CreateWriter(const std::string& topic, dds::TypeSupport type, const T_RosQos& ros) {
  if (!Ok()) return nullptr;
  dds::Topic* described = TopicFor(topic, type);
  if (!described) return nullptr;
  dds::DataWriterQos qos = mPublisher->get_default_datawriter_qos();
  ApplyRosQos(ros, qos);
  OnlyXcdr1(qos.representation());
  qos.publish_mode().kind = dds::SYNCHRONOUS_PUBLISH_MODE;
  return mPublisher->create_datawriter(described, qos);
}

void CFastDdsNode::DeleteReader(dds::DataReader* reader) {
  if (reader) mSubscriber->delete_datareader(reader);
}

}  // namespace interop
