#pragma once
// Helpers of the DDS tests: Cyclone DDS bound to the loopback interface
// alone, a helper program run as a process of its own, and samples taken
// off a reader.

#include <gtest/gtest.h>

#include <dds/dds.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "DdsEntities.h"
#include "RawRecord.h"
#include "RecordSamples.h"
#include "SkarvRecordTypes.h"

namespace ddstest {

// This process, and every process it starts, talks DDS over the loopback
// interface only, on `domain`.
inline void UseLoopback(int domain) {
  setenv("CYCLONEDDS_URI", "file://" SKARV_DDS_LOOPBACK_CONFIG, 1);
  setenv("ROS_DOMAIN_ID", std::to_string(domain).c_str(), 1);
}

// A namespace no other run of the tests uses at the same time.
inline std::string UniqueNamespace(const std::string& stem) { return stem + std::to_string(getpid()); }

// A program started with `arguments` in `workDir`, its standard output and
// error in files there.
class CHelperProcess {
 public:
  CHelperProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& workDir) {
    std::vector<std::string> texts{program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    const std::string out = (workDir / "stdout").string();
    const std::string err = (workDir / "stderr").string();
    const std::string dir = workDir.string();
    mPid = fork();
    if (mPid == 0) {
      if (chdir(dir.c_str()) != 0 || !freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) {
        _exit(126);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~CHelperProcess() {
    if (mPid > 0 && !mExited) {
      kill(mPid, SIGKILL);
      waitpid(mPid, nullptr, 0);
    }
  }
  // Calls `meanwhile` every 10 ms until the process ends or `timeout`
  // passes; returns its exit status, or -1 while it runs. Once it has
  // ended, Wait must not be called again.
  int Wait(std::chrono::seconds timeout, const std::function<void()>& meanwhile = {}) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      int status = 0;
      if (waitpid(mPid, &status, WNOHANG) == mPid) {
        mExited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      if (meanwhile) meanwhile();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  pid_t mPid = -1;
  bool mExited = false;
};

// A test's own publisher of record batches on the records topic under a
// namespace, named by its user data as the client's publisher is, its
// batches carrying `serial` as the sensor's serial number. An `older`
// publisher's user data is its name alone, without the type hash.
class CBatchWriter {
 public:
  CBatchWriter(const std::string& ns, const std::string& name, skarvdds::CDdsParticipant& participant,
               const std::string& serial = "", bool older = false)
      : mSerial(serial) {
    const std::string topic = "rt/" + ns + "/records";
    if (older) {
      const dds_entity_t topicHandle = dds_create_topic(participant.Handle(), &skarv_msgs_msg_dds__RawRecordBatch__desc,
                                                        topic.c_str(), nullptr, nullptr);
      dds_qos_t* qos = dds_create_qos();
      dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
      dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, 0);
      dds_qset_userdata(qos, name.data(), name.size());
      mWriter = dds_create_writer(participant.Handle(), topicHandle, qos, nullptr);
      dds_delete_qos(qos);
      EXPECT_GT(mWriter, 0);
      return;
    }
    std::string error;
    skarvdds::T_EndpointExtras extras;
    extras.userData = skarvdds::UserDataEntry(skarvdds::kPublisherKey, name);
    mWriter = participant.CreateWriter(skarv_msgs_msg_dds__RawRecordBatch__desc, topic, skarvdds::kKeepAll, error,
                                       extras);
    EXPECT_GT(mWriter, 0) << error;
  }
  ~CBatchWriter() {
    if (mWriter > 0) dds_delete(mWriter);
  }
  // Batch `batch` of `n` records counted on from `first` (16 bits), 30 us
  // apart, 40 sharing a frame's header as the sensor sends them; `change`
  // may alter each. The write's return code (a time-out when a reader holds
  // it up).
  dds_return_t Write(uint64_t batch, uint32_t first, uint32_t n,
                     const std::function<void(kiv::T_RawRecord&)>& change = {}) {
    std::vector<kiv::T_RawRecord> records(n);
    for (uint32_t i = 0; i < n; ++i) {
      kiv::T_RawRecord& r = records[i];
      r.count = static_cast<uint16_t>(first + i);
      r.flags = kiv::T_RawRecord::FlagsOf(0, 3);
      r.rawDistance = 1234;
      r.width = 50;
      r.imu[2] = 16384;
      r.imu[0] = static_cast<uint16_t>((first + i) / 40);
      if (change) change(r);
    }
    std::vector<uint16_t> words(records.size() * skarvdds::kWordsPerRecord);
    skarvdds::PackRecords(records, words);
    return WriteWords(batch, words);
  }
  // Batch `batch` holding `words` as they are, whole records or not.
  dds_return_t WriteWords(uint64_t batch, std::vector<uint16_t> words) {
    skarv_msgs_msg_dds__RawRecordBatch_ message{};
    message.header.frame_id = const_cast<char*>("test");
    message.batch = batch;
    const uint32_t n = static_cast<uint32_t>(words.size());
    message.words = {n, n, words.data(), false};
    message.serial = mSerial.data();
    return dds_write(mWriter, &message);
  }
  dds_entity_t Handle() const { return mWriter; }
  // The serial number of the next batches (another sensor behind this publisher).
  void SetSerial(const std::string& serial) { mSerial = serial; }

 private:
  std::string mSerial;
  dds_entity_t mWriter = 0;
};

// The records of a recording whose counts run on from 0 without a gap, as
// CBatchWriter's do: how many there are, up to the first that does not
// follow (which fails the test).
inline uint32_t RecordsCountedFromZero(const std::filesystem::path& recording) {
  std::ifstream file(recording);
  std::string line;
  std::getline(file, line);  // the header
  uint32_t records = 0;
  while (std::getline(file, line)) {
    const int count = std::stoi(line.substr(0, line.find(',')));
    EXPECT_EQ(count, static_cast<int>(records & 0xFFFF)) << "line " << records + 2;
    if (count != static_cast<int>(records & 0xFFFF)) break;
    ++records;
  }
  return records;
}

// Waits until `done` holds, or `timeout` passes; returns `done()`.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

// Takes every sample with data off `reader` and hands each to `use`.
template <typename T, typename Use>
size_t TakeAll(dds_entity_t reader, Use use) {
  constexpr size_t kBatch = 64;
  size_t taken = 0;
  while (true) {
    void* samples[kBatch] = {};
    dds_sample_info_t infos[kBatch];
    const dds_return_t n = dds_take(reader, samples, infos, kBatch, kBatch);
    if (n <= 0) break;
    for (dds_return_t i = 0; i < n; ++i) {
      if (infos[i].valid_data) {
        use(*static_cast<const T*>(samples[i]));
        ++taken;
      }
    }
    dds_return_loan(reader, samples, n);
  }
  return taken;
}

}  // namespace ddstest
