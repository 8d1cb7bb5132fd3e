#pragma once
// A built program (skarv-client unless told otherwise) run as a separate
// process, the way a shell starts it: its own environment, its standard
// output on a pipe the test reads (and may close), its standard error in a
// file, its working directory a fresh folder removed at the end.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class CClientProcess {
 public:
  struct T_Setup {
    // The program to run; empty: the built skarv-client.
    std::string program;
    std::vector<std::string> arguments;
    // Variables dropped from the test's own environment, then variables set
    // ("NAME=value").
    std::vector<std::string> unset;
    std::vector<std::string> set;
    // Killed by the system when the test's process ends, however it ends
    // (for a helper such as a display server that must not outlive it).
    bool endsWithTest = false;
  };

  explicit CClientProcess(const T_Setup& setup);
  // A client still running is killed.
  ~CClientProcess();
  CClientProcess(const CClientProcess&) = delete;
  CClientProcess& operator=(const CClientProcess&) = delete;

  bool Started() const { return mPid > 0; }
  pid_t Pid() const { return mPid; }
  const std::filesystem::path& WorkDir() const { return mWorkDir; }

  // Reads standard output until it holds `text` (true), the client ends or
  // the time is up (false).
  bool WaitForOutput(const std::string& text, std::chrono::seconds timeout);
  // Reads standard output for `span`; false when the program ends before.
  bool RunsFor(std::chrono::seconds span);
  // Closes the test's end of the output pipe: every later write of the
  // client to its standard output fails.
  void CloseOutput();

  void Signal(int signal) const;
  bool Running();
  // Waits for the end, reading the output meanwhile; false when the time is
  // up. `status` is what waitpid reported.
  bool WaitForExit(std::chrono::seconds timeout, int& status);
  // Write calls the client has made so far, on any descriptor; none where
  // the system does not tell.
  std::optional<uint64_t> WriteCalls() const;

  const std::string& Output() const { return mOutput; }
  std::string Errors() const;

 private:
  void ReadAvailable(int waitMs);

  pid_t mPid = -1;
  int mOutputFd = -1;
  std::string mOutput;
  std::filesystem::path mWorkDir;
  bool mExited = false;
  int mStatus = 0;
};
