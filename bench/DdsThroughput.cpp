// Records through DDS over the loopback interface: this program publishes
// batches of records as the data path hands them over (1200 records an
// update, the sensor's top rate of 3600 rpm) through the DDS publisher, and
// a second process of its own receives them on a reliable reader and
// unpacks them, as a subscriber's feed does, checking that their counts run
// on. Both rates are given as records a second and as a multiple of the
// link's limit (124,000 records a second). The records topic keeps all: a
// receiver that falls behind slows the publisher down, and every record
// arrives.
//
//   skarv-dds-bench [RECORDS]            (CYCLONEDDS_URI and ROS_DOMAIN_ID as for any DDS program)
//   skarv-dds-bench --receive NS RECORDS (the receiving process)

#include <dds/dds.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "DdsEntities.h"
#include "DdsOptions.h"
#include "DdsPublisher.h"
#include "Diagnostics.h"
#include "RecordSamples.h"
#include "RosMessageTypes.h"
#include "SkarvRecordTypes.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kLinkRecordsPerSecond = 124000.0;
constexpr size_t kRecordsPerUpdate = 1200;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

int Receive(const std::string& ns, uint64_t expected) {
  skarvdds::CDdsParticipant participant;
  std::string error;
  if (!participant.Open(error)) {
    DiagErrorPrintf("receiver: %s\n", error.c_str());
    return 1;
  }
  const dds_entity_t reader = participant.CreateReader(skarv_msgs_msg_dds__RawRecordBatch__desc,
                                                       skarvdds::TopicName(ns, "records"), true,
                                                       skarvdds::kKeepAll, error);
  // The other topics have a reader too, as a ROS 2 viewer would.
  participant.CreateReader(sensor_msgs_msg_dds__LaserScan__desc, skarvdds::TopicName(ns, "scan"), true, 10, error);
  participant.CreateReader(sensor_msgs_msg_dds__Imu__desc, skarvdds::TopicName(ns, "imu"), true, 10, error);
  participant.CreateReader(sensor_msgs_msg_dds__MagneticField__desc, skarvdds::TopicName(ns, "mag"), true, 10, error);
  participant.CreateReader(sensor_msgs_msg_dds__Temperature__desc, skarvdds::TopicName(ns, "imu/temperature"), true,
                           10, error);
  participant.CreateReader(sensor_msgs_msg_dds__Temperature__desc, skarvdds::TopicName(ns, "temperature"), true, 10,
                           error);
  const dds_entity_t waitset = dds_create_waitset(participant.Handle());
  dds_waitset_attach(waitset, dds_create_readcondition(reader, DDS_ANY_STATE), 0);
  uint64_t received = 0, batches = 0, outOfOrder = 0;
  uint16_t nextCount = 0;
  std::vector<kiv::T_RawRecord> records;  // each batch's, unpacked as the feed does
  Clock::time_point first{}, last{};
  while (received < expected) {
    if (dds_waitset_wait(waitset, nullptr, 0, DDS_SECS(10)) <= 0) {
      break;
    }
    void* samples[64] = {};
    dds_sample_info_t infos[64];
    const dds_return_t n = dds_take(reader, samples, infos, 64, 64);
    for (dds_return_t i = 0; i < n; ++i) {
      if (!infos[i].valid_data) continue;
      if (received == 0) first = Clock::now();
      const auto& words = static_cast<const skarv_msgs_msg_dds__RawRecordBatch_*>(samples[i])->words;
      records.clear();
      skarvdds::AppendRecords({words._buffer, words._length}, records);
      for (const kiv::T_RawRecord& record : records) {
        outOfOrder += record.count != nextCount;
        nextCount = static_cast<uint16_t>(record.count + 1);
      }
      received += records.size();
      ++batches;
    }
    if (n > 0) dds_return_loan(reader, samples, n);
    last = Clock::now();
  }
  const double seconds = Seconds(last - first);
  DiagPrintf(EDiagLevel::eAlways, "received  %llu records in %llu batches in %.3f s: %.0f records/s = %.1f x link\n",
             static_cast<unsigned long long>(received), static_cast<unsigned long long>(batches), seconds,
             received / seconds, received / seconds / kLinkRecordsPerSecond);
  if (outOfOrder > 0) {
    DiagPrintf(EDiagLevel::eAlways, "received  %llu records out of order\n",
               static_cast<unsigned long long>(outOfOrder));
  }
  return received == expected && outOfOrder == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--receive") {
    return Receive(argv[2], std::stoull(argv[3]));
  }
  const uint64_t updates = (argc > 1 ? std::stoull(argv[1]) : 12000000) / kRecordsPerUpdate;
  const uint64_t total = updates * kRecordsPerUpdate;
  const std::string ns = "bench" + std::to_string(getpid());

  const pid_t receiver = fork();
  if (receiver == 0) {
    const std::string count = std::to_string(total);
    execl("/proc/self/exe", argv[0], "--receive", ns.c_str(), count.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 1;
  {
    skarvdds::T_DdsOptions options;
    options.publish = true;
    options.ns = ns;
    skarvdds::CDdsPublisher publisher(options);
    if (!publisher.WaitForReaders(1, std::chrono::seconds(30))) {
      DiagErrorPrintf("no receiver\n");
      return 1;
    }
    // One update's records at 3600 rpm: 120 samples a millisecond, 8.3 us
    // apart, so DeltTime (10 us units) is 1 five times in six and 0 the
    // sixth, as the sensor counts it. An update then spans the 10 ms of
    // sensor time it does from the sensor, and the IMU topics, paced by that
    // time, get one message each an update.
    std::vector<kiv::T_RawRecord> batch(kRecordsPerUpdate);
    for (size_t i = 0; i < batch.size(); ++i) {
      batch[i].rawDistance = 1234;
      batch[i].width = 87;
      batch[i].flags = kiv::T_RawRecord::FlagsOf(0, static_cast<unsigned>((i + 1) * 5 / 6 - i * 5 / 6));
      batch[i].rawSupplyVoltage = 5000;
      batch[i].rawAnaTemp = 4000;
    }
    uint16_t count = 0;
    const Clock::time_point start = Clock::now();
    for (uint64_t u = 0; u < updates; ++u) {
      for (kiv::T_RawRecord& record : batch) record.count = count++;
      publisher.OnRecords(batch);
      if (u % 50 == 49) publisher.Drain();  // keeps the hand-over short, as a live sensor does
    }
    publisher.Drain();
    const double written = Seconds(Clock::now() - start);
    publisher.WaitForAcknowledgements(std::chrono::seconds(60));
    const double acknowledged = Seconds(Clock::now() - start);
    DiagPrintf(EDiagLevel::eAlways,
               "published %llu records in %llu batches in %.3f s: %.0f records/s = %.1f x link"
               " (all acknowledged after %.3f s)\n",
               static_cast<unsigned long long>(total), static_cast<unsigned long long>(updates), written,
               total / written, total / written / kLinkRecordsPerSecond, acknowledged);
    DiagFlush();
    waitpid(receiver, &status, 0);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
