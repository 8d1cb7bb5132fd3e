#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "DiagCapture.h"
#include "Diagnostics.h"
#include "GeneralException.h"

namespace {

TEST(Diagnostics, LinesKeepTheirTextStreamAndOrder) {
  CDiagCapture errors(EDiagStream::eErr);
  CDiagCapture out;
  DiagPrintf(EDiagLevel::eAlways, "Looking for device vid/pid %04X/%04X..\n", 0xE785, 0x64F2);
  DiagErrorPrintf("Clean Port.\n");
  GeneralException("Iso Read Pipe failed.", 31).OutputText(DiagOut());
  // Longer than any fixed buffer, and formatted exactly as printf would.
  const std::string path(700, 'p');
  DiagPrintf(EDiagLevel::ePerUpdate, "Deviced clean path = %s\n", path.c_str());
  char expected[800];
  std::snprintf(expected, sizeof expected, "Deviced clean path = %s\n", path.c_str());
  DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut, "Thread Done.\n");

  EXPECT_EQ(out.Text(), "Looking for device vid/pid E785/64F2..\nIso Read Pipe failed. Error Code = 0x1f\n" +
                            std::string(expected) + "Thread Done.\n");
  EXPECT_EQ(errors.Text(), "Clean Port.\n") << "the inner capture passes the other stream on";
}

TEST(Diagnostics, QuietModeMutesOnlyThePerUpdateLines) {
  CDiagCapture out;
  SetDiagQuiet(true);
  EXPECT_TRUE(DiagQuiet());
  DiagPrintf(EDiagLevel::ePerUpdate, "GetNextPipeData bytesTransfered = %d\n", 64);
  DiagWrite(EDiagLevel::ePerUpdate, EDiagStream::eOut, "foundScanSize = 5\n");
  DiagPrintf(EDiagLevel::eAlways, "Skiped records = %d at %d\n", 2, 13);
  GeneralException("Couldn't get mutex", -1).OutputText(DiagOut());
  SetDiagQuiet(false);
  DiagPrintf(EDiagLevel::ePerUpdate, "foundScanSize = %d\n", 7);
  EXPECT_EQ(out.Take(), "Skiped records = 2 at 13\nCouldn't get mutex Error Code = 0xffffffff\nfoundScanSize = 7\n");
  EXPECT_EQ(out.Text(), "");
}

TEST(Diagnostics, ExceptionLinesOfThreadsNeverMix) {
  CDiagCapture out;
  auto report = [](const char* text) {
    for (int i = 0; i < 200; ++i) GeneralException(text, 0x7f).OutputText(DiagOut());
  };
  std::thread other(report, "Ovlk_Init failed.");
  report("Iso Read Pipe failed.");
  other.join();
  const std::string text = out.Text();
  size_t lines = 0;
  for (size_t at = 0; at < text.size(); ++lines) {
    const size_t end = text.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(at, end - at);
    EXPECT_TRUE(line == "Ovlk_Init failed. Error Code = 0x7f" || line == "Iso Read Pipe failed. Error Code = 0x7f") << line;
    at = end + 1;
  }
  EXPECT_EQ(lines, 400u);
}

// A terminal behind a fully buffered standard output: what is written to
// stdout shows only when flushed, stderr shows at once.
class CBufferedTerminal final : public IDiagWriter {
 public:
  CBufferedTerminal() { mPrevious = SetDiagWriter(this); }
  ~CBufferedTerminal() { SetDiagWriter(mPrevious); }
  void Write(EDiagStream stream, std::string_view text) override {
    (stream == EDiagStream::eOut ? mBuffered : mShown).append(text);
  }
  void Flush(EDiagStream stream) override {
    if (stream == EDiagStream::eOut) {
      mShown += mBuffered;
      mBuffered.clear();
    }
  }
  std::string mShown;

 private:
  std::string mBuffered;
  IDiagWriter* mPrevious = nullptr;
};

TEST(Diagnostics, HeldPerUpdateLinesKeepTheirOrderAndWaitOnlySoLong) {
  CBufferedTerminal terminal;
  DiagHoldPerUpdateLines(std::chrono::milliseconds(30));
  DiagPrintf(EDiagLevel::ePerUpdate, "foundScanSize = %d\n", 5);
  DiagPrintf(EDiagLevel::ePerUpdate, "foundScanSize = %d\n", 6);
  EXPECT_EQ(terminal.mShown, "") << "per-update lines wait";
  DiagErrorPrintf("Clean Port.\n");
  EXPECT_EQ(terminal.mShown, "foundScanSize = 5\nfoundScanSize = 6\nClean Port.\n") << "stdout goes before stderr";

  DiagPrintf(EDiagLevel::ePerUpdate, "foundScanSize = %d\n", 7);
  DiagPrintf(EDiagLevel::eAlways, "Skiped records = %d at %d\n", 2, 13);
  EXPECT_EQ(terminal.mShown, "foundScanSize = 5\nfoundScanSize = 6\nClean Port.\nfoundScanSize = 7\n"
                             "Skiped records = 2 at 13\n")
      << "any other line goes at once, with those held before it";

  terminal.mShown.clear();
  DiagPrintf(EDiagLevel::ePerUpdate, "foundScanSize = %d\n", 8);
  DiagFlushDue();
  EXPECT_EQ(terminal.mShown, "") << "not due yet";
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  DiagFlushDue();
  EXPECT_EQ(terminal.mShown, "foundScanSize = 8\n") << "the last of a burst goes once it has waited its longest";

  DiagHoldPerUpdateLines(std::chrono::milliseconds(0));
  terminal.mShown.clear();
  DiagPrintf(EDiagLevel::ePerUpdate, "foundScanSize = %d\n", 9);
  EXPECT_EQ(terminal.mShown, "") << "without holding, flushing is left to the stream's own line buffering";
}

}  // namespace
