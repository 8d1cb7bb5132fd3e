#include "BenchSupport.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace bench {

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void ReportRecords(benchmark::State& state, int64_t records, double seconds) {
  const double rate = seconds > 0.0 ? static_cast<double>(records) / seconds : 0.0;
  state.counters["records/s"] = rate;
  state.counters["x_link"] = rate / kLinkRecordsPerSecond;
}

uint32_t CFrameMaker::Random() {
  mRandom = mRandom * 1664525u + 1013904223u;
  return mRandom >> 8;
}

std::vector<uint8_t> CFrameMaker::Next(int entries) {
  std::vector<uint8_t> frame;
  frame.reserve(static_cast<size_t>(kHeaderBytes + entries * kEntryBytes));
  auto put = [&frame](uint32_t word) {
    frame.push_back(static_cast<uint8_t>(word >> 8 & 0xFF));
    frame.push_back(static_cast<uint8_t>(word & 0xFF));
  };
  auto noise = [this](int amplitude) { return static_cast<int>(Random() % (2u * amplitude + 1)) - amplitude; };

  put(static_cast<uint32_t>(4817 + noise(4)));  // about 12 V supply
  put(static_cast<uint32_t>(5336 + noise(8)));  // about 35 degrees at the laser
  put(static_cast<uint32_t>(800 + noise(3)));   // laser power
  put(0);                                       // auxiliary word
  // Gravity on Z, noise on every channel; negative values as two's complement.
  const int imu[10] = {0, 0, 16384, -1200, 0, 0, 0, 310, -145, 420};
  for (int value : imu) {
    put(static_cast<uint16_t>(value + noise(40)));
  }

  for (int i = 0; i < entries; ++i, ++mSample, ++mCount) {
    const uint64_t step = mSample % kSamplesPerRotation;
    const uint32_t scanState = (mSample / kSamplesPerRotation) % 2;
    const double angle = 6.283185307179586 * static_cast<double>(step) / kSamplesPerRotation;
    // A rectangular room of about 6 m by 4 m, the sensor off its centre.
    const double toWall = std::min(std::abs(300.0 / std::cos(angle)), std::abs(200.0 / std::sin(angle)));
    uint32_t distance = static_cast<uint32_t>(std::min(toWall, 1150.0) * 10.0) + static_cast<uint32_t>(noise(5) + 5);
    uint32_t width = 120 + static_cast<uint32_t>(noise(60) + 60);
    if (Random() % 200 == 0) {  // a lost return
      distance = 25000;
      width = 420;
    }
    const uint32_t deltTime = 2 + static_cast<uint32_t>(mSample % 2);
    put(mCount);
    put(distance);
    put(width);
    put(scanState << 15 | deltTime << 1);
  }
  return frame;
}

namespace {

void FlushAll() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(stdout);
  std::fflush(stderr);
}

}  // namespace

CQuietOutput::CQuietOutput() {
  FlushAll();
  mSavedOut = dup(STDOUT_FILENO);
  mSavedErr = dup(STDERR_FILENO);
  const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (sink >= 0) {
    if (mSavedOut >= 0) dup2(sink, STDOUT_FILENO);
    if (mSavedErr >= 0) dup2(sink, STDERR_FILENO);
    close(sink);
  }
}

CQuietOutput::~CQuietOutput() {
  FlushAll();
  if (mSavedOut >= 0) {
    dup2(mSavedOut, STDOUT_FILENO);
    close(mSavedOut);
  }
  if (mSavedErr >= 0) {
    dup2(mSavedErr, STDERR_FILENO);
    close(mSavedErr);
  }
}

}  // namespace bench
