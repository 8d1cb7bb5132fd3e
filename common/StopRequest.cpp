#include "StopRequest.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<CStopRequest*> gCatcher{nullptr};
static_assert(std::atomic<CStopRequest*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) {
  if (CStopRequest* stop = gCatcher.load()) {
    stop->Request();
  }
}

}  // namespace

CStopRequest::CStopRequest() {
  if (::pipe2(mPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    mPipe[0] = mPipe[1] = -1;
  }
}

CStopRequest::~CStopRequest() {
  if (mCatching) {
    for (const int signal : kStopSignals) {
      std::signal(signal, SIG_DFL);
    }
    gCatcher.store(nullptr);
  }
  for (const int fd : mPipe) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

void CStopRequest::Request() {
  mRequested.store(true);
  if (mPipe[1] >= 0) {
    const char byte = 1;
    // A full pipe means a wake-up is already pending.
    [[maybe_unused]] const ssize_t written = ::write(mPipe[1], &byte, 1);
  }
}

bool CStopRequest::WaitFor(int ms) {
  if (mRequested.load()) {
    return true;
  }
  if (mPipe[0] < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return mRequested.load();
  }
  pollfd ready{mPipe[0], POLLIN, 0};
  // EINTR (a signal arrived) simply ends the wait early.
  [[maybe_unused]] const int woken = ::poll(&ready, 1, ms);
  return mRequested.load();
}

void CStopRequest::CatchSignals() {
  gCatcher.store(this);
  mCatching = true;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kStopSignals) {
    sigaction(signal, &action, nullptr);
  }
}
