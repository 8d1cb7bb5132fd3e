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
};

// What a source that can end or fail on its own (a recording played back)
// says on each turn of the loop.
struct T_SourceState {
  bool ended = false;  // every record was delivered: the recorder stops
  std::string error;   // the source failed: the recorder stops and fails
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
  // Called on each turn of the loop, after the data path ran.
  void SetSourceCheck(std::function<T_SourceState()> check) { mSourceCheck = std::move(check); }

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
  void CloseRecording();

  CSkarvIO& mIO;
  IRecorderClock& mClock;
  CStopRequest& mStop;
  const T_RecorderSettings mSettings;
  std::function<void()> mOnStarted;
  std::function<T_SourceState()> mSourceCheck;
  CProgressLine mProgress;
  std::unique_ptr<CStatusLine> mStatusLine;
  T_DeviceStatus mFinal;
  double mRecordedSeconds = 0.0;
};
