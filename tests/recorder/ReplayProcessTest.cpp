// The built skarv-record replaying sources that do not keep up: a pipe that
// pauses, a process stopped early in a short replay, a pipe that gives
// nothing. A pause holds the replay and loses nothing; a stop ends it in
// order whatever the source does, with every record read so far in the file.
// And at full speed a loop lasts its duration in the records' own time.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "ClientProcess.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

constexpr char kHeader[] =
    "Count,DeltTime,Distance,Width,AnaTemp,ScanState,LaserPower,SupplyVoltage,AccelX,AccelY,AccelZ,IMUTemp,GyroX,"
    "GyroY,GyroZ,MagX,MagY,MagZ\n";
constexpr int kDeltTime = 3;  // 30 us between records, 40 a frame of the bus as the sensor sends them

// A recording of `records` records, 30 us apart, as the client writes them.
std::string Recording(int records) {
  std::string text = kHeader;
  for (int i = 0; i < records; ++i) {
    text += std::to_string(i) + "," + std::to_string(kDeltTime) +
            ",123.400000,50,25.499160," + std::to_string(i / 2000 % 2) + ",1800,11.999889,1,2,16384,1250,0,0,0,220,-95," +
            std::to_string(-410 + i / 40 % 7) + "\n";
  }
  return text;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class ReplayProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/skarv-replay-process-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    Release();
    fs::remove_all(dir);
  }

  static CClientProcess::T_Setup Recorder(std::vector<std::string> arguments) {
    CClientProcess::T_Setup setup;
    setup.program = SKARV_RECORD_PROGRAM;
    setup.arguments = std::move(arguments);
    setup.arguments.push_back("--quiet");
    return setup;
  }

  static int ExitStatus(CClientProcess& process, seconds timeout = seconds(60)) {
    int status = -1;
    EXPECT_TRUE(process.WaitForExit(timeout, status)) << "still running";
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path Fifo(const std::string& name) {
    const fs::path path = dir / name;
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    return path;
  }

  // Writes `first`, waits `pause`, writes `rest`, then, with `hold`, keeps
  // the pipe open (the writer stalls) until Release, before closing it: on
  // a thread of the test's, once the recorder has opened the pipe.
  void WriteToFifo(const fs::path& fifo, std::string first, std::chrono::milliseconds pause, std::string rest,
                   bool hold = false) {
    released = false;
    writer = std::thread([=, this] {
      int fd = -1;
      const auto deadline = std::chrono::steady_clock::now() + seconds(60);
      while ((fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // no reader yet
      }
      if (fd < 0) return;
      ::fcntl(fd, F_SETFL, 0);  // blocking writes from here on
      const auto put = [fd](const std::string& text) {
        for (size_t at = 0; at < text.size();) {
          const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
          if (n <= 0) return;
          at += static_cast<size_t>(n);
        }
      };
      put(first);
      std::this_thread::sleep_for(pause);
      put(rest);
      const auto holdDeadline = std::chrono::steady_clock::now() + seconds(60);
      while (hold && !released && std::chrono::steady_clock::now() < holdDeadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      ::close(fd);
    });
  }
  void Release() {
    released = true;
    if (writer.joinable()) writer.join();
  }

  // Waits until `file` holds `lines` lines or the recorder has ended.
  static void WaitForLines(CClientProcess& recorder, const fs::path& file, size_t lines) {
    const auto deadline = std::chrono::steady_clock::now() + seconds(60);
    while (Lines(ReadFile(file)) < lines && recorder.Running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  fs::path dir;
  std::thread writer;
  std::atomic<bool> released{false};
};

TEST_F(ReplayProcess, ASourceThatPausesHoldsTheReplayAndLosesNothing) {
  const std::string source = Recording(2000);
  const size_t split = source.find('\n', source.size() / 2) + 1;  // after about 1000 records
  {
    SCOPED_TRACE("a pipe that pauses 4 s after its first half");
    const fs::path fifo = Fifo("paused.csv");
    CClientProcess recorder(Recorder({"--replay", fifo.string()}));
    WriteToFifo(fifo, source.substr(0, split), std::chrono::milliseconds(4000), source.substr(split));
    EXPECT_EQ(ExitStatus(recorder), 0) << recorder.Errors();
    EXPECT_TRUE(ReadFile(recorder.WorkDir() / "SkarvData-1.csv") == source);
    EXPECT_NE(recorder.Errors().find("Summary: 1 file written, 2000 records, 0 gaps, "), std::string::npos)
        << recorder.Errors();
  }
  {
    SCOPED_TRACE("the recorder stopped 5 s early in its replay (Ctrl-Z, then fg)");
    const fs::path file = dir / "short.csv";
    std::ofstream(file, std::ios::binary) << source;
    CClientProcess recorder(Recorder({"--replay", file.string()}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    recorder.Signal(SIGSTOP);
    std::this_thread::sleep_for(seconds(5));
    recorder.Signal(SIGCONT);
    EXPECT_EQ(ExitStatus(recorder), 0) << recorder.Errors();
    EXPECT_TRUE(ReadFile(recorder.WorkDir() / "SkarvData-1.csv") == source);
  }
}

TEST_F(ReplayProcess, AStopEndsABlockedReplayWithEveryRecordReadSoFar) {
  const std::string source = Recording(2000);
  const size_t half = source.find('\n', source.size() / 2) + 1;
  {
    SCOPED_TRACE("a pipe that nobody writes to");
    const fs::path fifo = Fifo("silent.csv");
    CClientProcess recorder(Recorder({"--replay", fifo.string()}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    recorder.Signal(SIGINT);
    EXPECT_EQ(ExitStatus(recorder, seconds(10)), 1);
    EXPECT_NE(recorder.Errors().find(": cannot replay " + fifo.string() + ": stopped while waiting for its first line\n"),
              std::string::npos)
        << recorder.Errors();
  }
  for (const bool loop : {false, true}) {
    SCOPED_TRACE(loop ? "a looped pipe whose writer has gone, waited for again" : "a pipe that stalls half-way");
    const fs::path fifo = Fifo(loop ? "looped.csv" : "stalled.csv");
    std::vector<std::string> arguments{"--replay", fifo.string()};
    if (loop) arguments.push_back("--loop");
    CClientProcess recorder(Recorder(arguments));
    const std::string written = loop ? source : source.substr(0, half);
    WriteToFifo(fifo, written, {}, "", !loop);
    const fs::path file = recorder.WorkDir() / "SkarvData-1.csv";
    WaitForLines(recorder, file, Lines(written));
    recorder.Signal(SIGTERM);
    EXPECT_EQ(ExitStatus(recorder, seconds(10)), 0) << recorder.Errors();
    EXPECT_TRUE(ReadFile(file) == written) << Lines(ReadFile(file)) << " lines";
    Release();
  }
}

// A writer that gives a looped pipe the file again before the reader has
// seen the end of the first (`while :; do cat FILE > FIFO; done`, or one
// writer writing it twice): the second header starts the second pass.
TEST_F(ReplayProcess, ALoopedPipeFedTheFileTwiceOverPlaysTwoPasses) {
  const std::string source = Recording(2000);
  const fs::path fifo = Fifo("twice.csv");
  CClientProcess recorder(Recorder({"--replay", fifo.string(), "--loop"}));
  WriteToFifo(fifo, source + source, {}, "", true);
  const fs::path file = recorder.WorkDir() / "SkarvData-1.csv";
  WaitForLines(recorder, file, 4001);
  recorder.Signal(SIGTERM);
  EXPECT_EQ(ExitStatus(recorder, seconds(10)), 0) << recorder.Errors();
  // Its counts follow on: 2000 to 3999.
  std::string again;
  std::istringstream lines(source.substr(source.find('\n') + 1));
  for (std::string line; std::getline(lines, line);) {
    again += std::to_string(std::stoi(line.substr(0, line.find(','))) + 2000) + line.substr(line.find(',')) + "\n";
  }
  EXPECT_TRUE(ReadFile(file) == source + again) << Lines(ReadFile(file)) << " lines";
}

TEST_F(ReplayProcess, AtFullSpeedALoopLastsItsDurationInTheRecordsOwnTime) {
  const fs::path file = dir / "pass.csv";
  std::ofstream(file, std::ios::binary) << Recording(2000);  // 60 ms a pass
  CClientProcess recorder(Recorder({"--replay", file.string(), "--speed", "0", "--loop", "--duration", "3"}));
  EXPECT_EQ(ExitStatus(recorder), 0) << recorder.Errors();
  const std::string recorded = ReadFile(recorder.WorkDir() / "SkarvData-1.csv");
  const double seconds = static_cast<double>(Lines(recorded) - 1) * kDeltTime * 10e-6;
  EXPECT_GE(seconds, 3.0);
  EXPECT_LT(seconds, 3.25) << "a step (160 frames) at most beyond the duration";
  const std::string errors = recorder.Errors();
  char summary[64];
  std::snprintf(summary, sizeof summary, "%zu records, 0 gaps, %.1f s", Lines(recorded) - 1, seconds);
  EXPECT_NE(errors.find(summary), std::string::npos) << errors;
  EXPECT_EQ(Occurrences(errors, "Clean Port."), 1u) << "a loop is no clean-up of the port";
}

}  // namespace
