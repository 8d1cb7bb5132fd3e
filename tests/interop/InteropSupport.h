#pragma once
// What both directions of the Fast DDS tests share: the two middlewares on
// the loopback interface alone, skarv-record run as a process, and bounded
// waits.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/ClientProcess.h"

namespace interop {

using std::chrono::seconds;

// Cyclone DDS in the programs this process starts on the loopback
// interface, on `domain`; Fast DDS here takes its loopback profile itself.
inline void UseLoopback(uint32_t domain) {
  setenv("CYCLONEDDS_URI", "file://" SKARV_DDS_LOOPBACK_CONFIG, 1);
  setenv("ROS_DOMAIN_ID", std::to_string(domain).c_str(), 1);
}

inline CClientProcess::T_Setup Recorder(std::vector<std::string> arguments) {
  CClientProcess::T_Setup setup;
  setup.program = SKARV_RECORD_PROGRAM;
  setup.arguments = std::move(arguments);
  return setup;
}

// The exit status of a program that ends within `timeout`, -1 otherwise.
inline int ExitStatus(CClientProcess& process, seconds timeout = seconds(60)) {
  int status = -1;
  EXPECT_TRUE(process.WaitForExit(timeout, status)) << "still running";
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool WaitUntil(const std::function<bool()>& done, seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

inline std::string Contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace interop
