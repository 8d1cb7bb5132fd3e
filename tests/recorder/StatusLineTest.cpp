// The status line kept at the bottom of a terminal while diagnostic lines
// scroll past above it, checked on what a terminal would show.

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "Diagnostics.h"
#include "StatusLine.h"

namespace {

// A terminal both standard streams write to (or only standard error, when
// standard output goes elsewhere): it applies carriage return, erase to the
// end of the line and line feed, and keeps the rows it shows.
class CTerminal final : public IDiagWriter {
 public:
  explicit CTerminal(bool showsOutput) : mShowsOutput(showsOutput) { mPrevious = SetDiagWriter(this); }
  ~CTerminal() { SetDiagWriter(mPrevious); }

  void Write(EDiagStream stream, std::string_view text) override {
    if (stream == EDiagStream::eOut && !mShowsOutput) {
      mElsewhere.append(text);
      return;
    }
    for (size_t i = 0; i < text.size(); ++i) {
      if (text.substr(i, 3) == "\033[K") {
        mRows.back().resize(std::min(mRows.back().size(), mColumn));
        i += 2;
      } else if (text[i] == '\r') {
        mColumn = 0;
      } else if (text[i] == '\n') {
        mRows.emplace_back();
        mColumn = 0;
      } else {
        std::string& row = mRows.back();
        if (row.size() <= mColumn) row.resize(mColumn + 1, ' ');
        row[mColumn++] = text[i];
      }
    }
  }
  void Flush(EDiagStream) override {}

  std::vector<std::string> mRows{std::string()};
  std::string mElsewhere;

 private:
  const bool mShowsOutput;
  IDiagWriter* mPrevious = nullptr;
  size_t mColumn = 0;
};

using Rows = std::vector<std::string>;

TEST(StatusLine, StaysBelowTheLinesScrollingPastAndIsErasedAtTheEnd) {
  CTerminal terminal(true);
  {
    CStatusLine status;
    status.Show("streaming | 10 records");
    DiagPrintf(EDiagLevel::eAlways, "first line\n");
    status.Show("streaming | 20 records");
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut, "second ");
    DiagPrintf(EDiagLevel::eAlways, "line\n");
    DiagErrorPrintf("an error\n");
    EXPECT_EQ(terminal.mRows, (Rows{"first line", "second line", "an error", "streaming | 20 records"}));
  }
  EXPECT_EQ(terminal.mRows, (Rows{"first line", "second line", "an error", ""}));
}

TEST(StatusLine, OutputShownElsewhereLeavesTheLineAlone) {
  CTerminal terminal(false);
  CStatusLine status(false);
  status.Show("streaming | 10 records");
  DiagPrintf(EDiagLevel::eAlways, "first line\n");
  DiagErrorPrintf("an error\n");
  status.Show("streaming | 20 records");
  EXPECT_EQ(terminal.mRows, (Rows{"an error", "streaming | 20 records"}));
  EXPECT_EQ(terminal.mElsewhere, "first line\n");
}

}  // namespace
