#pragma once
// Collects what the client prints on one stream of the diagnostics sink for
// as long as it lives; what goes to the other stream passes on to the writer
// that was in place before. Captures nest: the inner one sees a line first.

#include <mutex>
#include <string>
#include <string_view>

#include "Diagnostics.h"

class CDiagCapture final : public IDiagWriter {
 public:
  explicit CDiagCapture(EDiagStream stream = EDiagStream::eOut) : mStream(stream) { mPrevious = SetDiagWriter(this); }
  ~CDiagCapture() { SetDiagWriter(mPrevious); }
  CDiagCapture(const CDiagCapture&) = delete;
  CDiagCapture& operator=(const CDiagCapture&) = delete;

  void Write(EDiagStream stream, std::string_view text) override {
    if (stream != mStream) {
      mPrevious->Write(stream, text);
      return;
    }
    std::lock_guard<std::mutex> lock(mLock);
    mText.append(text);
  }
  void Flush(EDiagStream stream) override {
    if (stream != mStream) {
      mPrevious->Flush(stream);
    }
  }

  // Everything captured so far.
  std::string Text() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mText;
  }

  // Returns what was captured so far and starts afresh.
  std::string Take() {
    std::lock_guard<std::mutex> lock(mLock);
    std::string text;
    text.swap(mText);
    return text;
  }

 private:
  const EDiagStream mStream;
  IDiagWriter* mPrevious = nullptr;
  mutable std::mutex mLock;  // taken under the sink's lock, and alone by the readers
  std::string mText;
};
