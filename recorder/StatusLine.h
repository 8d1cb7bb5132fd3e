#pragma once
// One line kept at the bottom of a terminal, on standard error, below the
// diagnostic lines scrolling past it. While it lives it is the diagnostics
// sink's writer: every other piece of text first erases the line, and once
// that text has ended a line the status line is drawn again under it, so a
// diagnostic line never runs into the status line's text.

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

#include "Diagnostics.h"

class CStatusLine final : public IDiagWriter {
 public:
  // Puts itself in place as the sink's writer. `sharedWithOutput`: standard
  // output shows on the same terminal, so its lines must step round the
  // status line too (otherwise only standard error's do).
  explicit CStatusLine(bool sharedWithOutput = true);
  // Erases the line and puts the previous writer back.
  ~CStatusLine();
  CStatusLine(const CStatusLine&) = delete;
  CStatusLine& operator=(const CStatusLine&) = delete;

  // Draws `line` (no line end) in place of the one shown; an empty line
  // erases it.
  void Show(const std::string& line);

  void Write(EDiagStream stream, std::string_view text) override;
  void Flush(EDiagStream stream) override;

 private:
  // The writer next in line. Another thread may already print through this
  // one in the moment between putting it in place and storing what it
  // replaced: Previous() waits out that moment.
  IDiagWriter* Previous();

  const bool mSharedWithOutput;
  std::atomic<IDiagWriter*> mPrevious{nullptr};
  // The thread drawing the line through the sink right now, so that its
  // own text is told from the diagnostic lines. Only the sink's lock
  // guards the members below: they change inside Write alone.
  std::atomic<std::thread::id> mDrawing{};
  std::string mLine;
  bool mShown = false;
};
