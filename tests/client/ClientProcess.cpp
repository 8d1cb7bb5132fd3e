#include "ClientProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

std::vector<std::string> ChildEnvironment(const CClientProcess::T_Setup& setup) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry; ++entry) {
    const std::string variable = *entry;
    const std::string name = variable.substr(0, variable.find('='));
    bool dropped = false;
    for (const std::string& unset : setup.unset) dropped = dropped || unset == name;
    for (const std::string& set : setup.set) dropped = dropped || set.substr(0, set.find('=')) == name;
    if (!dropped) variables.push_back(variable);
  }
  variables.insert(variables.end(), setup.set.begin(), setup.set.end());
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

CClientProcess::CClientProcess(const T_Setup& setup) {
  char pattern[] = "/tmp/skarv-process-XXXXXX";
  if (!mkdtemp(pattern)) return;
  mWorkDir = pattern;

  // Everything the child needs is ready before the fork: between fork and
  // exec it only rearranges descriptors.
#ifdef SKARV_CLIENT_PROGRAM
  const std::string program = setup.program.empty() ? SKARV_CLIENT_PROGRAM : setup.program;
#else
  const std::string program = setup.program;
#endif
  std::vector<std::string> arguments{program};
  arguments.insert(arguments.end(), setup.arguments.begin(), setup.arguments.end());
  std::vector<std::string> environment = ChildEnvironment(setup);
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(environment);
  const std::string errorsPath = (mWorkDir / "stderr").string();
  const std::string workDir = mWorkDir.string();

  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return;
  const int errors = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = getpid();
  mPid = fork();
  if (mPid == 0) {
    if (setup.endsWithTest && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)) _exit(126);
    if (dup2(nothing, 0) < 0 || dup2(output[1], 1) < 0 || dup2(errors, 2) < 0 || chdir(workDir.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(output[1]);
  close(errors);
  close(nothing);
  mOutputFd = output[0];
}

CClientProcess::~CClientProcess() {
  if (mPid > 0 && !mExited) {
    kill(mPid, SIGKILL);
    waitpid(mPid, &mStatus, 0);
  }
  CloseOutput();
  std::error_code ignored;
  if (!mWorkDir.empty()) std::filesystem::remove_all(mWorkDir, ignored);
}

void CClientProcess::ReadAvailable(int waitMs) {
  if (mOutputFd < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    return;
  }
  pollfd ready{mOutputFd, POLLIN, 0};
  if (poll(&ready, 1, waitMs) <= 0) return;
  char buffer[4096];
  const ssize_t got = read(mOutputFd, buffer, sizeof buffer);
  if (got > 0) {
    mOutput.append(buffer, static_cast<size_t>(got));
  } else if (got == 0) {
    CloseOutput();  // every writer has gone
  }
}

bool CClientProcess::WaitForOutput(const std::string& text, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (mOutput.find(text) == std::string::npos) {
    if (mOutputFd < 0 || std::chrono::steady_clock::now() > deadline) return false;
    ReadAvailable(50);
  }
  return true;
}

bool CClientProcess::RunsFor(std::chrono::seconds span) {
  // Each read waits up to 50 ms or takes up to 4 kB: the count bounds the
  // loop as well as the time, far above what the span needs.
  const auto end = std::chrono::steady_clock::now() + span;
  for (int64_t reads = 0; reads < 1000 * span.count() && std::chrono::steady_clock::now() < end; ++reads) {
    if (!Running()) return false;
    ReadAvailable(50);
  }
  return Running();
}

void CClientProcess::CloseOutput() {
  if (mOutputFd >= 0) {
    close(mOutputFd);
    mOutputFd = -1;
  }
}

void CClientProcess::Signal(int signal) const {
  if (mPid > 0) kill(mPid, signal);
}

bool CClientProcess::Running() {
  if (mPid <= 0 || mExited) return false;
  if (waitpid(mPid, &mStatus, WNOHANG) == mPid) mExited = true;
  return !mExited;
}

bool CClientProcess::WaitForExit(std::chrono::seconds timeout, int& status) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ReadAvailable(50);
  }
  while (mOutputFd >= 0) ReadAvailable(50);
  status = mStatus;
  return mExited;
}

std::optional<uint64_t> CClientProcess::WriteCalls() const {
  std::ifstream io("/proc/" + std::to_string(mPid) + "/io");
  std::string name;
  uint64_t value = 0;
  while (io >> name >> value) {
    if (name == "syscw:") return value;
  }
  return std::nullopt;
}

std::string CClientProcess::Errors() const {
  std::ifstream file(mWorkDir / "stderr");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}
