#include "Recorder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "Diagnostics.h"
#include "GeneralException.h"
#include "RecorderClock.h"
#include "SkarvIO.h"
#include "StopRequest.h"

namespace {

std::string FormatSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

}  // namespace

CRecorder::CRecorder(CSkarvIO& io, IRecorderClock& clock, CStopRequest& stop, T_RecorderSettings settings)
    : mIO(io), mClock(clock), mStop(stop), mSettings(std::move(settings)) {}

std::string CRecorder::FolderProblem(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    return std::strerror(errno);
  }
  if (!S_ISDIR(info.st_mode)) {
    return std::strerror(ENOTDIR);
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return std::strerror(errno);
  }
  return {};
}

int CRecorder::Run() {
  const std::string folder = mSettings.outputDir.empty() ? "." : mSettings.outputDir;
  if (const std::string problem = FolderProblem(folder); !problem.empty()) {
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr,
              mSettings.program + ": cannot record to " + folder + ": " + problem + "\n");
    return kFailed;
  }
  mIO.SetRecordingDirectory(mSettings.outputDir);
  // The controller counts failed recordings since the program started.
  const uint32_t failuresBefore = mIO.GetDeviceStatus().RecordingFailures;
  DiagPrintf(EDiagLevel::eAlways, " Starting up\n");
  mIO.Initialize(10);
  // The file opens at the first update that finds the sensor, before that
  // update's records are processed: it holds every record.
  const bool csv = mCompanion.csvToo || !mCompanion.file;
  mIO.RequestRecording(csv);
  if (mOnStarted) {
    mOnStarted();
  }
  if (mSettings.progress) {
    mStatusLine = std::make_unique<CStatusLine>(mSettings.outputOnTerminal);
  }
  mClock.Start();

  std::string failure;
  bool sensorSeen = false;
  double recordingStart = -1.0;
  double nextProgress = 0.0;
  double now = 0.0;
  // A stop request ends a source that can play out what reached it: the
  // loop runs on until it has, within its drain time.
  bool draining = false;
  bool drainGivenUp = false;
  uint32_t requestsAtDrain = 0;
  std::chrono::steady_clock::time_point drainStart;
  for (;;) {
    if (mStop.Requested() && !draining) {
      if (!mSource.endIntake) {
        break;
      }
      draining = true;
      requestsAtDrain = mStop.Count();
      drainStart = std::chrono::steady_clock::now();
      mSource.endIntake();
    }
    if (draining && (mStop.Count() > requestsAtDrain ||
                     std::chrono::steady_clock::now() - drainStart >= std::chrono::duration<double>(mSource.drainSeconds))) {
      drainGivenUp = true;
      break;
    }
    mClock.Run();
    DiagFlushDue();
    now = mClock.Seconds();
    const T_DeviceStatus status = mIO.GetDeviceStatus();
    if (status.RecordingFailures > failuresBefore) {
      failure = "recording failed: " + status.LastError;
      break;
    }
    if (mCompanion.failure) {
      if (const std::string why = mCompanion.failure(); !why.empty()) {
        failure = "recording failed: " + why;
        break;
      }
    }
    sensorSeen = sensorSeen || status.SensorOpen;
    if (status.SensorOpen && !status.Serial.empty()) {
      mSensorSerial = status.Serial;
    }
    if (!sensorSeen && mSettings.waitSeconds >= 0.0 && now >= mSettings.waitSeconds) {
      failure = "no " + mSettings.awaited + " within " + FormatSeconds(mSettings.waitSeconds) + " s" +
                (status.LastError.empty() ? "" : ": " + status.LastError);
      break;
    }
    const bool recording = csv ? status.Recording : mCompanion.records() > 0;
    if (recordingStart < 0.0 && recording) {
      recordingStart = now;
    }
    if (mSource.check) {
      const T_SourceState source = mSource.check();
      if (!source.error.empty()) {
        failure = source.error;
        break;
      }
      if (source.ended) {
        break;
      }
    }
    if (mSettings.progress && now >= nextProgress) {
      ShowProgress(status, now);
      nextProgress = now + 1.0;
    }
    if (!draining && mSettings.durationSeconds > 0.0 && recordingStart >= 0.0 &&
        now - recordingStart >= mSettings.durationSeconds) {
      break;
    }
  }

  mClock.Stop();
  CloseRecording();
  mStatusLine.reset();
  mFinal = mIO.GetDeviceStatus();
  mRecordedSeconds = recordingStart >= 0.0 ? now - recordingStart : 0.0;
  if (failure.empty() && mFinal.RecordingFailures > failuresBefore) {
    failure = "recording failed: " + mFinal.LastError;
  }
  std::string companionFailure = mCompanion.close ? mCompanion.close() : "";
  if (!companionFailure.empty() && failure.empty()) {
    failure = "recording failed: " + companionFailure;
  }
  std::string text = FormatSummary(Recorded(mFinal), mRecordedSeconds,
                                   mFinal.SensorOpen && !mFinal.Serial.empty() ? mFinal.Serial : mSensorSerial);
  if (csv && mCompanion.file && companionFailure.empty()) {
    if (const std::string file = mCompanion.file(); !file.empty()) {
      const uint32_t files = mCompanion.files ? mCompanion.files() : 1;
      text += files > 1 ? "The same records went to " + std::to_string(files) + " MCAP files (the last " + file + ").\n"
                        : "The same records went to " + file + ".\n";
    }
  }
  if (mSource.summary) {
    if (const std::string line = mSource.summary(); !line.empty()) {
      text += line + "\n";
    }
  }
  if (draining && mSource.unplayed) {
    if (const uint64_t unplayed = mSource.unplayed(); unplayed > 0) {
      text += std::to_string(unplayed) + " records received were not written" +
              (drainGivenUp ? ": the stop did not wait for them" : "") + ".\n";
    }
  }
  if (!failure.empty()) {
    text += mSettings.program + ": " + failure + "\n";
  }
  DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, text);
  DiagFlush(EDiagStream::eErr);
  return failure.empty() ? kRecorded : kFailed;
}

void CRecorder::ShowProgress(const T_DeviceStatus& status, double seconds) {
  mStatusLine->Show(mProgress.Update(Recorded(status), seconds));
}

T_DeviceStatus CRecorder::Recorded(const T_DeviceStatus& status) const {
  if (mCompanion.csvToo || !mCompanion.file) {
    return status;
  }
  T_DeviceStatus recorded = status;
  recorded.FileName = mCompanion.file();
  recorded.FilesWritten = mCompanion.files();
  recorded.RecordsRecorded = mCompanion.records();
  recorded.FileBytes = mCompanion.bytes();
  recorded.Recording = !recorded.FileName.empty() && mCompanion.failure().empty();
  return recorded;
}

void CRecorder::CloseRecording() {
  // The data path has stopped: this thread alone touches the file now. The
  // close is checked like every write; a failure counts as a failed
  // recording.
  mIO.RequestRecording(false);
  try {
    mIO.UpdateFileState();
  } catch (const GeneralException& e) {
    e.OutputText(DiagOut());
  }
}
