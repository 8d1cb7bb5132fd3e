#pragma once
// The Cyclone DDS entities every DDS front end needs: a participant on the
// domain ROS 2 would use, and writers and readers with ROS 2's QoS. Errors
// come back in plain words.

#include <dds/dds.h>

#include <cstdint>
#include <string>

#include "UserData.h"

namespace skarvdds {

// History depth of the ROS message topics. The records topic keeps all
// (kKeepAll): its writer waits for a reader that falls behind instead of
// dropping records that reader has not acknowledged.
inline constexpr int32_t kRosHistoryDepth = 10;
// ROS 2's sensor-data profile: best effort, keep last 5.
inline constexpr int32_t kSensorDataHistoryDepth = 5;
inline constexpr int32_t kKeepAll = 0;
// How long a write may wait for room in a keep-all history before it reports
// a time-out (and is tried again).
inline constexpr int64_t kKeepAllBlockingMs = 1000;

// The largest domain ROS 2 allows (its DDS port numbers end there).
inline constexpr uint32_t kMaxDomain = 232;

// The domain from ROS_DOMAIN_ID, 0 when it is not set; false with `error`
// set when it is not a number from 0 to kMaxDomain.
bool DomainFromEnvironment(uint32_t& domain, std::string& error);

// What some endpoints set beyond the QoS above.
struct T_EndpointExtras {
  // A writer's liveliness lease: readers learn within about this long that
  // a writer whose process died is gone. 0: DDS's default (infinite).
  int64_t livelinessMs = 0;
  // A writer that sends best effort rather than reliably.
  bool bestEffort = false;
  // A writer that keeps its last samples for readers that come later
  // (transient local), as tf2's static broadcaster does.
  bool transientLocal = false;
  // USER_DATA entries after the type hash that every endpoint carries,
  // "key=value;" each (UserData.h): a writer's name of who publishes, for
  // readers to name it.
  std::string userData;
  // A keep-all reader's bound on the samples it holds: past it, a reliable
  // writer waits for the reader to take some. 0: no bound. (For readers:
  // Cyclone DDS bounds what a writer holds by its own settings alone.)
  int32_t maxSamples = 0;
  const dds_listener_t* listener = nullptr;
};

// Owns a participant and, through it, every entity made under it.
class CDdsParticipant {
 public:
  CDdsParticipant() = default;
  ~CDdsParticipant();
  CDdsParticipant(const CDdsParticipant&) = delete;
  CDdsParticipant& operator=(const CDdsParticipant&) = delete;

  // Joins the domain of ROS_DOMAIN_ID; false with `error` in plain words.
  bool Open(std::string& error);
  // Leaves the domain, deleting every entity made under the participant.
  void Close();
  bool IsOpen() const { return mHandle > 0; }
  dds_entity_t Handle() const { return mHandle; }
  uint32_t Domain() const { return mDomain; }

  // A topic of `descriptor`'s type with a writer on it: reliable, volatile,
  // keep last `depth` (or keep all for kKeepAll), with `extras`, and the
  // type's ROS 2 hash in its user data. Returns the writer, or 0 with
  // `error` set.
  dds_entity_t CreateWriter(const dds_topic_descriptor_t& descriptor, const std::string& topic, int32_t depth,
                            std::string& error, const T_EndpointExtras& extras = {});
  // A reader on such a topic: reliable or best effort, keep last `depth` (or
  // keep all), with `extras` and the type's hash.
  dds_entity_t CreateReader(const dds_topic_descriptor_t& descriptor, const std::string& topic, bool reliable,
                            int32_t depth, std::string& error, const T_EndpointExtras& extras = {});

 private:
  dds_entity_t Topic(const dds_topic_descriptor_t& descriptor, const std::string& topic, std::string& error);
  dds_entity_t mHandle = 0;
  uint32_t mDomain = 0;
};

}  // namespace skarvdds
