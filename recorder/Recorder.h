#pragma once
// The recorder without windows: asks the controller to record at once, lets
// the data path run on its clock until the recording has lasted as long as
// asked, a stop is requested (a signal), the source has ended, or something
// failed; then stops the data path, closes the file with every line the data
// path processed, and says what it did.
//
// Everything it prints goes through the diagnostics sink: the progress line
// and the summary on standard error, with the controller's own lines on
// standard output as the client prints them.

#include <functional>
#include <memory>
#include <string>

#include "DeviceStatus.h"
#include "ProgressLine.h"
#include "StatusLine.h"

class CSkarvIO;
class CStopRequest;
class IRecorderClock;

struct T_RecorderSettings {
  // Stop after the recording has run this many seconds (on the recorder's
  // clock); 0 or less: until stopped.
  double durationSeconds = 0.0;
  // Fail when no sensor has been opened this many seconds after the start;
  // below 0: wait for ever.
  double waitSeconds = -1.0;
  // Where the recordings go; empty: the working directory.
  std::string outputDir;
  // Refresh a progress line on standard error once a second (a terminal),
  // and whether standard output shows on the same terminal.
  bool progress = false;
  bool outputOnTerminal = true;
  // Names the program in failure messages.
  std::string program = "skarv-record";
  // What --wait waits for, in its failure message.
  std::string awaited = "sensor";
};

// What a source that can end or fail on its own (a recording played back,
// another machine's records) says on each turn of the loop.
struct T_SourceState {
  bool ended = false;  // every record was delivered: the recorder stops
  std::string error;   // the source failed: the recorder stops and fails
};

// How the recorder works with such a source.
struct T_SourceHooks {
  // Called on each turn of the loop, after the data path ran.
  std::function<T_SourceState()> check;
  // Called at a stop request: the source takes nothing more in and plays
  // out what has reached it; the recorder runs on until the check says the
  // source has ended (or `drainSeconds` pass, or a second request comes).
  std::function<void()> endIntake;
  // After such an end: the records that reached the source and were not
  // processed (the end was given up); said when not 0.
  std::function<uint64_t()> unplayed;
  // A line for the summary, about the source ("" for none).
  std::function<std::string()> summary;
  // How long, on the wall clock, the end may take at most.
  double drainSeconds = 10.0;
};

// Another file the recording goes to, beside the CSV file or instead of
// it (an MCAP file), fed by the data path; looked at on the recorder's
// thread.
struct T_CompanionHooks {
  bool csvToo = true;  // the CSV file is written as well
  // Why it stopped ("" while it records or has not begun): the recorder stops and fails.
  std::function<std::string()> failure;
  // Once the data path has stopped: finishes the file; why that failed, or "".
  std::function<std::string()> close;
  // The file it writes, or wrote last ("" before the first), and the records in it.
  std::function<std::string()> file;
  std::function<uint64_t()> records;  // of all its files
  std::function<uint32_t()> files;
  std::function<uint64_t()> bytes;    // of the file it writes
};

class CRecorder {
 public:
  static constexpr int kRecorded = 0;
  static constexpr int kFailed = 1;

  // The controller must not be initialised yet: Run does it. The clock
  // drives the data path that runs the controller.
  CRecorder(CSkarvIO& io, IRecorderClock& clock, CStopRequest& stop, T_RecorderSettings settings);

  // Called once the controller is initialised, before the data path starts.
  void SetOnStarted(std::function<void()> started) { mOnStarted = std::move(started); }
  void SetSource(T_SourceHooks source) { mSource = std::move(source); }
  void SetCompanion(T_CompanionHooks companion) { mCompanion = std::move(companion); }

  // Records until one of the ends above; returns kRecorded, or kFailed
  // after saying what failed and why.
  int Run();

  // The controller's state at the end of the last Run, and how long its
  // recording lasted.
  const T_DeviceStatus& FinalStatus() const { return mFinal; }
  double RecordedSeconds() const { return mRecordedSeconds; }

 private:
  // Empty when the folder can take new files; otherwise why not.
  static std::string FolderProblem(const std::string& folder);
  void ShowProgress(const T_DeviceStatus& status, double seconds);
  // The controller's status with the recording's files as the front end
  // shows them: the companion's when it writes the recording alone.
  T_DeviceStatus Recorded(const T_DeviceStatus& status) const;
  void CloseRecording();

  CSkarvIO& mIO;
  IRecorderClock& mClock;
  CStopRequest& mStop;
  const T_RecorderSettings mSettings;
  std::function<void()> mOnStarted;
  T_SourceHooks mSource;
  T_CompanionHooks mCompanion;
  CProgressLine mProgress;
  std::unique_ptr<CStatusLine> mStatusLine;
  T_DeviceStatus mFinal;
  std::string mSensorSerial;  // of the sensor open at the last reading that found one
  double mRecordedSeconds = 0.0;
};
