#include "Diagnostics.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <streambuf>
#include <string>

namespace {

// The stdio streams, used while no other writer is in place.
class CStdioWriter final : public IDiagWriter {
 public:
  void Write(EDiagStream stream, std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), File(stream));
  }
  void Flush(EDiagStream stream) override { std::fflush(File(stream)); }

 private:
  static FILE* File(EDiagStream stream) { return stream == EDiagStream::eErr ? stderr : stdout; }
};

constinit CStdioWriter gStdioWriter;
constinit std::atomic<bool> gQuiet{false};

// Guards the writer in place and every call into it. Taken last: nothing else
// is locked while it is held, and writers do not print through the sink.
constinit std::mutex gWriterLock;
constinit IDiagWriter* gWriter = &gStdioWriter;

// Holding per-update lines (guarded by gWriterLock): how long they may wait,
// and when the oldest line still in standard output's buffer was written.
using Clock = std::chrono::steady_clock;
constinit Clock::duration gHoldMost{};
constinit bool gHolding = false;
constinit Clock::time_point gHeldSince{};

// Called with gWriterLock held after `text` went to the writer.
void FlushAsHeld(EDiagLevel level, EDiagStream stream) {
  if (gHoldMost == Clock::duration::zero() || stream == EDiagStream::eErr) {
    return;  // the stream's own buffering decides then; stderr has none
  }
  const Clock::time_point now = Clock::now();
  if (level == EDiagLevel::ePerUpdate && !gHolding) {
    gHolding = true;
    gHeldSince = now;
  }
  if (level != EDiagLevel::ePerUpdate || now - gHeldSince >= gHoldMost) {
    gWriter->Flush(EDiagStream::eOut);
    gHolding = false;
  }
}

void FlushHeld() {
  if (gHolding) {
    gWriter->Flush(EDiagStream::eOut);
    gHolding = false;
  }
}

bool Muted(EDiagLevel level) { return level == EDiagLevel::ePerUpdate && gQuiet.load(std::memory_order_relaxed); }

std::string Format(const char* format, va_list arguments) {
  va_list again;
  va_copy(again, arguments);
  char small[256];
  const int length = std::vsnprintf(small, sizeof small, format, arguments);
  std::string text;
  if (length < 0) {
    // printf writes nothing for a format it cannot apply either.
  } else if (static_cast<size_t>(length) < sizeof small) {
    text.assign(small, static_cast<size_t>(length));
  } else {
    text.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(length));
  }
  va_end(again);
  return text;
}

// Collects what is streamed to it and hands each finished line to the sink.
class CLineBuffer final : public std::streambuf {
 protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) {
      return traits_type::not_eof(ch);
    }
    mLine.push_back(traits_type::to_char_type(ch));
    if (ch == '\n') {
      Send();
    }
    return ch;
  }
  int sync() override {
    Send();
    return 0;
  }

 private:
  void Send() {
    if (!mLine.empty()) {
      DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut, mLine);
      mLine.clear();
    }
  }
  std::string mLine;
};

}  // namespace

void DiagWrite(EDiagLevel level, EDiagStream stream, std::string_view text) {
  if (Muted(level) || text.empty()) {
    return;
  }
  std::lock_guard<std::mutex> lock(gWriterLock);
  if (stream == EDiagStream::eErr) {
    FlushHeld();
  }
  gWriter->Write(stream, text);
  FlushAsHeld(level, stream);
}

void DiagPrintf(EDiagLevel level, const char* format, ...) {
  if (Muted(level)) {
    return;
  }
  va_list arguments;
  va_start(arguments, format);
  const std::string text = Format(format, arguments);
  va_end(arguments);
  DiagWrite(level, EDiagStream::eOut, text);
}

void DiagErrorPrintf(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const std::string text = Format(format, arguments);
  va_end(arguments);
  DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, text);
}

void DiagFlush(EDiagStream stream) {
  std::lock_guard<std::mutex> lock(gWriterLock);
  if (stream == EDiagStream::eOut) {
    gHolding = false;
  }
  gWriter->Flush(stream);
}

void DiagHoldPerUpdateLines(std::chrono::milliseconds most) {
  std::lock_guard<std::mutex> lock(gWriterLock);
  FlushHeld();
  gHoldMost = most;
}

void DiagFlushDue() {
  std::lock_guard<std::mutex> lock(gWriterLock);
  if (gHolding && Clock::now() - gHeldSince >= gHoldMost) {
    FlushHeld();
  }
}

std::ostream& DiagOut() {
  thread_local CLineBuffer buffer;
  thread_local std::ostream stream(&buffer);
  return stream;
}

void SetDiagQuiet(bool quiet) { gQuiet.store(quiet); }

bool DiagQuiet() { return gQuiet.load(); }

IDiagWriter* SetDiagWriter(IDiagWriter* writer) {
  std::lock_guard<std::mutex> lock(gWriterLock);
  IDiagWriter* previous = gWriter;
  gWriter = writer ? writer : &gStdioWriter;
  return previous;
}
