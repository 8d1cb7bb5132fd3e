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
#include <functional>
#include <string>
#include <thread>
#include <vector>

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
