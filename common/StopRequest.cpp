#include "StopRequest.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<CStopRequest*> gCatcher{nullptr};
static_assert(std::atomic<CStopRequest*>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);

void OnStopSignal(int) {
  if (CStopRequest* stop = gCatcher.load()) {
    stop->Request();
  }
}

}  // namespace

CStopRequest::CStopRequest() : mInterrupt(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
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
  for (const int fd : {mPipe[0], mPipe[1], mInterrupt}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

void CStopRequest::Request() {
  mCount.fetch_add(1);
  if (mInterrupt >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(mInterrupt, &one, sizeof one);
  }
  if (mPipe[1] >= 0) {
    const char byte = 1;
    // A full pipe means a wake-up is already pending.
    [[maybe_unused]] const ssize_t written = ::write(mPipe[1], &byte, 1);
  }
}

void CStopRequest::Drain() {
  char bytes[64];
  while (mPipe[0] >= 0 && ::read(mPipe[0], bytes, sizeof bytes) > 0) {
  }
}

bool CStopRequest::WaitFor(int ms, uint32_t after) {
  if (Count() > after) {
    return true;
  }
  if (mPipe[0] < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return Count() > after;
  }
  pollfd ready{mPipe[0], POLLIN, 0};
  // EINTR (a signal arrived) simply ends the wait early. The pipe is emptied
  // so that the next wait waits again; the count says what was asked.
  [[maybe_unused]] const int woken = ::poll(&ready, 1, ms);
  Drain();
  return Count() > after;
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
