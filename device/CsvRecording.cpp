// Recording every sample record as a line of a numbered CSV file.
//
// A recording never replaces a file: each one is created exclusively, and a
// name already taken moves on to the next number. Every write, flush and
// close is checked; the first failure ends the recording in order (reported
// once, the file cut back to its last complete line and closed, the request
// withdrawn), while the data path goes on.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "CsvLine.h"
#include "Diagnostics.h"
#include "GeneralException.h"
#include "SkarvIO.h"

namespace {

const char kHeader[] =
    "Count,DeltTime,Distance,Width,AnaTemp,ScanState,LaserPower,SupplyVoltage,AccelX,AccelY,AccelZ,IMUTemp,GyroX,"
    "GyroY,GyroZ,MagX,MagY,MagZ\n";

// Cuts the file open on `fd` back to the end of its last complete line, so
// that what a failed write left behind is still a valid CSV file.
void CutToLastCompleteLine(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return;
  }
  off_t end = info.st_size;
  char block[4096];
  while (end > 0) {
    const off_t start = end > static_cast<off_t>(sizeof block) ? end - static_cast<off_t>(sizeof block) : 0;
    const ssize_t got = ::pread(fd, block, static_cast<size_t>(end - start), start);
    if (got <= 0) {
      return;
    }
    for (ssize_t i = got; i > 0; --i) {
      if (block[i - 1] == '\n') {
        if (start + i != info.st_size) {
          [[maybe_unused]] const int cut = ::ftruncate(fd, start + i);
        }
        return;
      }
    }
    end = start;
  }
  [[maybe_unused]] const int cut = ::ftruncate(fd, 0);
}

}  // namespace

void CSkarvIO::RequestRecording(bool record) {
  CClassMutex::CGuard lock(mMutex);
  mWriteFile = record;
}

void CSkarvIO::SetRecordingDirectory(const std::string& directory) {
  CClassMutex::CGuard lock(mMutex);
  mRecordingDirectory = directory;
}

void CSkarvIO::UpdateFileState() {
  // Under mMutex, so that the control panel never sees the file half opened
  // or its name half written.
  CClassMutex::CGuard lock(mMutex);

  if (mWriteFile.load()) {
    if (mSaveFile.load()) {
      return;
    }
    OpenNextRecordingFile();
  } else if (mSaveFile.load()) {
    CloseRecordingFile();
  }
}

void CSkarvIO::OpenNextRecordingFile() {
  FILE* file = nullptr;
  int error = 0;
  // "x": created exclusively, so an earlier run's file, or another client's
  // in the same folder, is never replaced. "+": a failed write's leftovers
  // can be read back to find the last complete line.
  do {
    if (mFileCount == INT_MAX) {
      error = EEXIST;
      break;
    }
    ++mFileCount;
    char name[64];
    std::snprintf(name, sizeof name, kFileNamePfStrPtr, mFileCount);
    if (mRecordingDirectory.empty()) {
      std::snprintf(mFileName, sizeof mFileName, "%s", name);
    } else {
      const char* separator = mRecordingDirectory.back() == '/' ? "" : "/";
      const int length = std::snprintf(mFileName, sizeof mFileName, "%s%s%s", mRecordingDirectory.c_str(), separator, name);
      if (length < 0 || static_cast<size_t>(length) >= sizeof mFileName) {
        error = ENAMETOOLONG;
        break;
      }
    }
    file = std::fopen(mFileName, "w+x");
    error = file ? 0 : errno;
  } while (!file && error == EEXIST);
  if (!file) {
    ++mRecordingFailures;
    SetLastError("File " + std::string(mFileName) + " could not be opened: " + std::strerror(error));
    throw GeneralException("Error opening save data file.  errno = %x", error);
  }
  if (!mRecordingBuffer) {
    mRecordingBuffer = std::make_unique<char[]>(kRecordingBufferBytes);
  }
  std::setvbuf(file, mRecordingBuffer.get(), _IOFBF, kRecordingBufferBytes);
  mFileBytes = 0;
  ++mFilesOpened;
  mSaveFile = file;
  WriteRecordingText(kHeader, sizeof kHeader - 1);
}

void CSkarvIO::WriteRecordingText(const char* text, size_t length) {
  FILE* file = mSaveFile.load(std::memory_order_relaxed);
  if (!file) {
    return;
  }
  if (std::fwrite(text, 1, length, file) != length) {
    FailRecording(errno);
    return;
  }
  mFileBytes += length;
}

void CSkarvIO::FlushRecordingFile() {
  FILE* file = mSaveFile.load(std::memory_order_relaxed);
  if (file && std::fflush(file) != 0) {
    FailRecording(errno);
  }
}

void CSkarvIO::FailRecording(int error) {
  const std::string reason = std::strerror(error != 0 ? error : EIO);
  ++mRecordingFailures;
  DiagPrintf(EDiagLevel::eAlways, "Recording to %s stopped: %s\n", mFileName, reason.c_str());
  SetLastError("Recording to " + std::string(mFileName) + " stopped: " + reason +
            (error == ENOSPC || error == EDQUOT ? " (disk full)" : ""));
  mWriteFile = false;
  CloseRecordingFile(true);
}

bool CSkarvIO::CloseRecordingFile(bool failed) {
  FILE* file = mSaveFile.exchange(nullptr);
  if (!file) {
    return true;
  }
  // The descriptor outlives the stream, so that whatever the close itself
  // managed to write can still be cut back to a complete line.
  const int fd = ::dup(::fileno(file));
  const bool closed = std::fclose(file) == 0;
  const int error = errno;
  if (!closed && !failed) {
    ++mRecordingFailures;
    const std::string reason = std::strerror(error);
    DiagPrintf(EDiagLevel::eAlways, "Recording to %s stopped: %s\n", mFileName, reason.c_str());
    SetLastError("Recording to " + std::string(mFileName) + " stopped: " + reason);
  }
  if (fd >= 0) {
    if (failed || !closed) {
      CutToLastCompleteLine(fd);
    }
    ::close(fd);
  }
  return closed && !failed;
}

void CSkarvIO::SaveFileTimeIncrement() {
  if (!mSaveFile.load(std::memory_order_relaxed)) {
    return;
  }
  const T_CsvFields fields{mRecordCount,
                           mSampleDeltTime,
                           mCurDistance,
                           mCurWidth,
                           mTemperature,
                           mScanState,
                           mLaserPower,
                           mSupplyVoltage,
                           {mIMUData.AccelX, mIMUData.AccelY, mIMUData.AccelZ, mIMUData.IMUTemp, mIMUData.GyroX,
                            mIMUData.GyroY, mIMUData.GyroZ, mIMUData.MagX, mIMUData.MagY, mIMUData.MagZ}};
  char line[kCsvLineCapacity];
  WriteRecordingText(line, FormatCsvLine(fields, line));
  if (mSaveFile.load(std::memory_order_relaxed)) {
    ++mRecordsRecorded;
  }
}
