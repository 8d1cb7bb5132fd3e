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
  SetDiagWriter(mPrevious);
}

void CStatusLine::Show(const std::string& line) {
  // The text goes through the sink like every other, and reaches Write on
  // this thread under the sink's lock.
  mDrawing.store(std::this_thread::get_id());
  DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, std::string(kEraseLine) + line);
  DiagFlush(EDiagStream::eErr);
  mDrawing.store(std::thread::id());
}

void CStatusLine::Write(EDiagStream stream, std::string_view text) {
  if (mDrawing.load() == std::this_thread::get_id()) {
    mLine.assign(text.substr(kEraseLine.size()));
    mPrevious->Write(EDiagStream::eErr, text);
    mShown = !mLine.empty();
    return;
  }
  if (stream == EDiagStream::eOut && !mSharedWithOutput) {
    mPrevious->Write(stream, text);
    return;
  }
  if (mShown) {
    mPrevious->Write(EDiagStream::eErr, kEraseLine);
    mShown = false;
  }
  mPrevious->Write(stream, text);
  if (!mLine.empty() && !text.empty() && text.back() == '\n') {
    mPrevious->Flush(stream);
    mPrevious->Write(EDiagStream::eErr, mLine);
    mShown = true;
  }
}

void CStatusLine::Flush(EDiagStream stream) { mPrevious->Flush(stream); }
