#pragma once
// A Fast DDS participant set up as ROS 2's default middleware (rmw_fastrtps)
// sets up a node's, on the loopback profile of fastdds-loopback.xml, with
// readers and writers of ROS 2's QoS profiles made as rmw_fastrtps makes
// them.
//
// rmw_fastrtps starts from Fast DDS's default QoS and sets, besides the
// profile's reliability, durability and history: the history memory
// PREALLOCATED_WITH_REALLOC, data sharing off, the data representation
// XCDR1 alone (its type support writes plain CDR only), and on its writers
// synchronous publication (its default since ROS 2 Humble; the older
// asynchronous one is chosen with RMW_FASTRTPS_PUBLICATION_MODE). ROS 2's
// type hash in the user data is left out.

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/DataReaderListener.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/TypeSupport.hpp>

#include <cstdint>
#include <string>

namespace interop {

// A ROS 2 QoS profile as far as these topics use it; depth 0 keeps all.
struct T_RosQos {
  bool reliable = true;
  bool transientLocal = false;
  int32_t depth = 10;
};
// ROS 2's default profile and its sensor-data profile.
inline constexpr T_RosQos kRosDefaultQos{true, false, 10};
inline constexpr T_RosQos kRosSensorDataQos{false, false, 5};

class CFastDdsNode {
 public:
  // A participant on `domain` with the loopback profile; Ok() says whether
  // it came up.
  explicit CFastDdsNode(uint32_t domain);
  ~CFastDdsNode();
  CFastDdsNode(const CFastDdsNode&) = delete;
  CFastDdsNode& operator=(const CFastDdsNode&) = delete;

  bool Ok() const { return mSubscriber && mPublisher; }

  // A reader or writer of `topic` (the DDS name, "rt/..."), whose type
  // `type` is registered under its own name on first use; null on failure.
  eprosima::fastdds::dds::DataReader* CreateReader(const std::string& topic, eprosima::fastdds::dds::TypeSupport type,
                                                   const T_RosQos& qos,
                                                   eprosima::fastdds::dds::DataReaderListener* listener);
  eprosima::fastdds::dds::DataWriter* CreateWriter(const std::string& topic, eprosima::fastdds::dds::TypeSupport type,
                                                   const T_RosQos& qos);
  void DeleteReader(eprosima::fastdds::dds::DataReader* reader);

 private:
  eprosima::fastdds::dds::Topic* TopicFor(const std::string& topic, eprosima::fastdds::dds::TypeSupport& type);

  eprosima::fastdds::dds::DomainParticipant* mParticipant = nullptr;
  eprosima::fastdds::dds::Subscriber* mSubscriber = nullptr;
  eprosima::fastdds::dds::Publisher* mPublisher = nullptr;
};

}  // namespace interop
