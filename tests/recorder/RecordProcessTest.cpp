// The built skarv-record as a shell runs it: without any display, ended by
// each of the signals that end it in order, and its exit statuses.

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ClientProcess.h"

namespace {

using std::chrono::seconds;

CClientProcess::T_Setup Recorder(std::vector<std::string> arguments) {
  CClientProcess::T_Setup setup;
  setup.program = SKARV_RECORD_PROGRAM;
  setup.arguments = std::move(arguments);
  // No display of any kind, and no hint for Qt either.
  setup.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  return setup;
}

int ExitStatus(CClientProcess& process) {
  int status = -1;
  EXPECT_TRUE(process.WaitForExit(seconds(60), status)) << "still running";
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The file's size, 0 while it does not exist.
uintmax_t SizeOf(const std::filesystem::path& file) {
  std::error_code missing;
  const uintmax_t bytes = std::filesystem::file_size(file, missing);
  return missing ? 0 : bytes;
}

// Waits until the recorder has written `bytes` to `file`.
void WaitForRecording(CClientProcess& recorder, const std::filesystem::path& file, uintmax_t bytes) {
  const auto deadline = std::chrono::steady_clock::now() + seconds(60);
  while (SizeOf(file) < bytes && std::chrono::steady_clock::now() < deadline) {
    ASSERT_TRUE(recorder.Running()) << recorder.Errors();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Of two virtual sensors the second, by its serial number: the summary
// names it, and --list shows both.
TEST(RecordProcess, RecordsTheChosenOfTwoVirtualSensorsAndListsThem) {
  CClientProcess recorder(Recorder({"--simulate", "--sensors", "2", "--serial", "SKV00002", "--duration", "3"}));
  EXPECT_EQ(ExitStatus(recorder), 0) << recorder.Errors();
  EXPECT_NE(recorder.Errors().find(" s, sensor SKV00002 (last file SkarvData-1.csv)\n"), std::string::npos)
      << recorder.Errors();
  EXPECT_NE(recorder.Output().find("[ARRIVAL] SKV00001 at 1-1: not the chosen sensor (serial number SKV00002); "
                                   "left alone.\n"),
            std::string::npos);

  CClientProcess list(Recorder({"--simulate", "--sensors=2", "--list"}));
  EXPECT_EQ(ExitStatus(list), 0) << list.Errors();
  EXPECT_EQ(list.Output(),
            "SKV00001  1-1  Skarv laser range sensor  (Skarv Sensors)  free\n"
            "SKV00002  1-2  Skarv laser range sensor  (Skarv Sensors)  free\n");
  // No real sensor here: status 1, with the reason.
  CClientProcess none(Recorder({"--list"}));
  EXPECT_EQ(ExitStatus(none), 1);
  EXPECT_EQ(none.Output(), "");
  EXPECT_NE(none.Errors(), "");
}

// A usage error's status 2: tests/options.
TEST(RecordProcess, HelpEndsWithStatus0) {
  CClientProcess help(Recorder({"--help"}));
  EXPECT_EQ(ExitStatus(help), 0);
  EXPECT_NE(help.Output().find("--output-dir DIR"), std::string::npos) << help.Output();
}

TEST(RecordProcess, NoSensorWithinTheWaitEndsWithStatus1) {
  CClientProcess recorder(Recorder({"--wait", "0.5"}));
  EXPECT_EQ(ExitStatus(recorder), 1);
  EXPECT_NE(recorder.Errors().find(": no sensor within 0.5 s"), std::string::npos) << recorder.Errors();
}

// Each signal ends the recorder in order: status 0, the summary, and a
// file whose every line is complete. Standard error is a file here, so no
// progress line is drawn; no Qt library is ever loaded.
TEST(RecordProcess, EachStopSignalEndsTheRecordingInOrder) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    CClientProcess recorder(Recorder({"--simulate", "--quiet"}));
    ASSERT_TRUE(recorder.Started());
    const std::filesystem::path file = recorder.WorkDir() / "SkarvData-1.csv";
    ASSERT_NO_FATAL_FAILURE(WaitForRecording(recorder, file, 100000));
    const std::string maps = ReadFile("/proc/" + std::to_string(recorder.Pid()) + "/maps");
    EXPECT_NE(maps.find("libc"), std::string::npos);
    EXPECT_EQ(maps.find("libQt"), std::string::npos);
    recorder.Signal(signal);
    EXPECT_EQ(ExitStatus(recorder), 0) << recorder.Errors();

    const std::string text = ReadFile(file);
    ASSERT_GT(text.size(), 100000u);
    EXPECT_EQ(text.back(), '\n');
    const size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
    EXPECT_EQ(std::count(text.begin() + static_cast<ptrdiff_t>(lastLine), text.end(), ','), 17);
    const std::string errors = recorder.Errors();
    EXPECT_EQ(errors.find('\r'), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Summary: 1 file written, "), 0u) << errors;
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_NE(errors.find(" " + std::to_string(lines - 1) + " records, "), std::string::npos) << errors;
  }
}

// The output folder removed during a recording (rm -rf): the recording is
// found to be gone within a second, said to have failed, counts nothing, and
// the recorder ends with status 1 rather than naming a file that no longer
// exists.
TEST(RecordProcess, ARemovedOutputFolderFailsTheRecording) {
  char pattern[] = "/tmp/skarv-record-out-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path folder = pattern;
  CClientProcess recorder(Recorder({"--simulate", "--quiet", "--output-dir", folder.string()}));
  ASSERT_TRUE(recorder.Started());
  const std::filesystem::path file = folder / "SkarvData-1.csv";
  ASSERT_NO_FATAL_FAILURE(WaitForRecording(recorder, file, 100000));
  std::filesystem::remove_all(folder);
  EXPECT_EQ(ExitStatus(recorder), 1) << recorder.Errors();
  const std::string stopped = "Recording to " + file.string() + " stopped: the file was deleted";
  EXPECT_NE(recorder.Output().find(stopped + "\n"), std::string::npos) << recorder.Output();
  const std::string errors = recorder.Errors();
  EXPECT_EQ(errors.find("Summary: 0 files written, 0 records, 0 gaps, "), 0u) << errors;
  EXPECT_NE(errors.find(" s, sensor SKV00001\n" + std::string(SKARV_RECORD_PROGRAM) + ": recording failed: " + stopped + "\n"),
            std::string::npos)
      << errors;
}

}  // namespace
