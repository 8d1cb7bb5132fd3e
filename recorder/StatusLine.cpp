#include "StatusLine.h"

namespace {

// Back to the start of the terminal's line, and the line erased.
constexpr std::string_view kEraseLine = "\r\033[K";

}  // namespace

CStatusLine::CStatusLine(bool sharedWithOutput) : mSharedWithOutput(sharedWithOutput) {
  mPrevious = SetDiagWriter(this);
}

CStatusLine::~CStatusLine() {
  Show("");
  SetDiagWriter(Previous());
}

void CStatusLine::Show(const std::string& line) {
  // The text goes through the sink like every other, and reaches Write on
  // this thread under the sink's lock.
  mDrawing.store(std::this_thread::get_id());
  DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, std::string(kEraseLine) + line);
  DiagFlush(EDiagStream::eErr);
  mDrawing.store(std::thread::id());
}

IDiagWriter* CStatusLine::Previous() {
  IDiagWriter* previous = mPrevious.load();
  while (!previous) {
    std::this_thread::yield();
    previous = mPrevious.load();
  }
  return previous;
}

void CStatusLine::Write(EDiagStream stream, std::string_view text) {
  IDiagWriter* previous = Previous();
  if (mDrawing.load() == std::this_thread::get_id()) {
    mLine.assign(text.substr(kEraseLine.size()));
    previous->Write(EDiagStream::eErr, text);
    mShown = !mLine.empty();
    return;
  }
  if (stream == EDiagStream::eOut && !mSharedWithOutput) {
    previous->Write(stream, text);
    return;
  }
  if (mShown) {
    previous->Write(EDiagStream::eErr, kEraseLine);
    mShown = false;
  }
  previous->Write(stream, text);
  if (!mLine.empty() && !text.empty() && text.back() == '\n') {
    previous->Flush(stream);
    previous->Write(EDiagStream::eErr, mLine);
    mShown = true;
  }
}

void CStatusLine::Flush(EDiagStream stream) { Previous()->Flush(stream); }
