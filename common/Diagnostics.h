#pragma once
// The one way out for every diagnostic line of the client. By default a line
// goes to standard output (or, for the few that always did, standard error)
// exactly as printf would write it: the same bytes, through the same stdio
// stream, so its buffering and its order among the other lines are unchanged.
//
// Lines come in two kinds: those written on every update of the data path or
// for every completed scan, which quiet mode mutes, and all the others
// (start-up, hot-plug, commands, errors, gap reports), which always appear.
//
// A test or another front end may put its own writer in place of the stdio
// streams. The writer is called under the sink's own lock, which is taken
// last: a writer must not print through the sink itself.

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string_view>

enum class EDiagLevel {
  eAlways,     // start-up, hot-plug, commands, errors and gap reports
  ePerUpdate,  // a line per data path update or per scan; muted when quiet
};

enum class EDiagStream { eOut, eErr };

// Receives every line the sink lets through. Never deleted through the sink,
// hence no virtual destructor: the stdio writer stays trivially destructible,
// so lines printed while the process's static objects are torn down still
// reach the terminal.
class IDiagWriter {
 public:
  virtual void Write(EDiagStream stream, std::string_view text) = 0;
  virtual void Flush(EDiagStream stream) = 0;

 protected:
  ~IDiagWriter() = default;
};

// Formats as printf does and writes the text to standard output.
void DiagPrintf(EDiagLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Formats as printf does and writes the text to standard error.
void DiagErrorPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes text as it is.
void DiagWrite(EDiagLevel level, EDiagStream stream, std::string_view text);

// Hands what was written so far on to the terminal (fflush).
void DiagFlush(EDiagStream stream = EDiagStream::eOut);

// A stream for OutputText-style writers: each line written to it (up to and
// including its "\n") reaches standard output through the sink in one piece.
// One stream per thread, so lines of different threads never mix.
std::ostream& DiagOut();

// Lets per-update and per-scan lines wait up to `most` in standard output's
// buffer, so that a steady stream of them costs a write to the terminal or
// file every `most` rather than one a line. Every other line goes out at
// once, together with any held before it, and standard output is flushed
// before anything reaches standard error, so the two keep their order.
// Standard output is to be fully buffered for this (setvbuf with _IOFBF);
// `most` of zero, the default, hands every line on at once.
void DiagHoldPerUpdateLines(std::chrono::milliseconds most);

// How long the programs let per-update lines wait.
inline constexpr std::chrono::milliseconds kPerUpdateLinesHeld{100};

// Writes out held lines that have waited their longest. A periodic thread
// calls it so that the last lines of a burst do not wait for the next one.
void DiagFlushDue();

// Quiet mode mutes the per-update and per-scan lines.
void SetDiagQuiet(bool quiet);
bool DiagQuiet();

// Puts `writer` in place of the current one and returns the one it replaced
// (the stdio streams' writer when no other was in place); nullptr restores
// the stdio streams. The caller keeps `writer` alive until it has been
// replaced again. A writer may hand text on to the one it replaced.
IDiagWriter* SetDiagWriter(IDiagWriter* writer);
