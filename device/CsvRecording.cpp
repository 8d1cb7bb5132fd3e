// Recording every sample record as a line of a numbered CSV file.
//
// A recording never replaces a file: each one is created exclusively, and a
// name already taken moves on to the next number. Every write, flush and
// close is checked; the first failure ends the recording in order (reported
// once, the file cut back to its last complete line and closed, the request
// withdrawn), while the data path goes on. A file deleted while it is being
// written (its folder removed, say) ends the recording the same way, found
// within a second.
//
// The counts a front end shows are those of the file: a record counts once a
// flush that covers its line has succeeded, and after a failure the complete
// lines left past the last good flush are counted in the file itself.
//
// Only the data path's thread opens, writes, flushes and closes the file, and
// none of that waits for the disk under the controller's lock: the record
// loop (under the lock) only copies each line into the stream's buffer,
// which holds a whole update's lines, and the exclusive create, the flush at
// the end of each update and the close run outside it. The lock is taken
// only to publish what they did (the file's name, the stream, the counts),
// so a slow or stalled disk never holds up the windows' getters.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "CsvColumns.h"
#include "CsvLine.h"
#include "Diagnostics.h"
#include "GeneralException.h"
#include "SkarvIO.h"

namespace {

const char kDeletedReason[] = "the file was deleted";

// Writes to a file whose last name is gone still succeed, into a file no one
// can open: only its link count tells.
bool IsDeleted(FILE* file) {
  struct stat info {};
  return ::fstat(::fileno(file), &info) == 0 && info.st_nlink == 0;
}

// What a recording holds once cut back: its size, and the line ends between
// the offset the cut started from and that size.
struct T_KeptLines {
  off_t size;
  uint64_t lines;
};

// Cuts the file open on `fd` back to the end of its last complete line, so
// that what a failed write left behind is still a valid CSV file. Everything
// before `from` (the file's size at its last successful flush) is known to
// be complete lines, so only what follows is read, from there on: at most
// about one update's lines, never the whole of a long recording.
T_KeptLines CutToLastCompleteLine(int fd, off_t from) {
  T_KeptLines kept{from, 0};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_size <= from) {
    return kept;
  }
  char block[16 * 1024];
  for (off_t at = from; at < info.st_size;) {
    const size_t wanted = static_cast<size_t>(std::min<off_t>(info.st_size - at, sizeof block));
    const ssize_t got = ::pread(fd, block, wanted, at);
    if (got <= 0) {
      break;  // unreadable from here: the file ends at the last line end seen
    }
    const char* const end = block + got;
    for (const char* next = block; (next = static_cast<const char*>(std::memchr(next, '\n', end - next)));) {
      ++next;
      ++kept.lines;
      kept.size = at + (next - block);
    }
    at += got;
  }
  if (kept.size != info.st_size) {
    [[maybe_unused]] const int cut = ::ftruncate(fd, kept.size);
  }
  return kept;
}

// A file named as `csvName` with one of `extensions` in place of ".csv" exists.
bool CompanionExists(const char* csvName, const std::vector<std::string>& extensions) {
  std::string name(csvName);
  if (name.size() < 4) {
    return false;
  }
  name.resize(name.size() - 4);
  struct stat info {};
  for (const std::string& extension : extensions) {
    if (::stat((name + extension).c_str(), &info) == 0) {
      return true;
    }
  }
  return false;
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

void CSkarvIO::SetRecordingClock(RecordingClock now) {
  CClassMutex::CGuard lock(mMutex);
  mRecordingClock = std::move(now);
}

void CSkarvIO::SetRecordingSplit(const T_RecordingSplit& split) {
  CClassMutex::CGuard lock(mMutex);
  mSplit = split;
}

void CSkarvIO::SetRecordingCompanions(std::vector<std::string> extensions) {
  CClassMutex::CGuard lock(mMutex);
  mCompanions = std::move(extensions);
}

void CSkarvIO::UpdateFileState() {
  // mSaveFile and mFileBytes change on this thread alone: they are read here
  // without the lock.
  const bool open = mSaveFile.load() != nullptr;
  if (mWriteFile.load()) {
    if (open && mFileSplit.Due(mFileBytes, mFileUnits)) {
      // Between two updates: the next file takes the next record.
      CloseRecordingFile();
      if (mWriteFile.load()) {
        OpenNextRecordingFile();
      }
    } else if (!open) {
      OpenNextRecordingFile();
    }
  } else if (open) {
    CloseRecordingFile();
  }
}

void CSkarvIO::OpenNextRecordingFile() {
  std::string directory;
  std::vector<std::string> companions;
  {
    CClassMutex::CGuard lock(mMutex);
    directory = mRecordingDirectory;
    mFileSplit = mSplit;
    companions = mCompanions;
  }
  FILE* file = nullptr;
  int error = 0;
  int32_t count = mFileCount;  // written by this thread alone
  char fileName[kFileNameLength] = {};
  // "x": created exclusively, so an earlier run's file, or another client's
  // in the same folder, is never replaced. "+": a failed write's leftovers
  // can be read back to find the last complete line.
  do {
    if (count == INT_MAX) {
      error = EEXIST;
      break;
    }
    ++count;
    char name[64];
    std::snprintf(name, sizeof name, kFileNamePfStrPtr, count);
    if (directory.empty()) {
      std::snprintf(fileName, sizeof fileName, "%s", name);
    } else {
      const char* separator = directory.back() == '/' ? "" : "/";
      const int length = std::snprintf(fileName, sizeof fileName, "%s%s%s", directory.c_str(), separator, name);
      if (length < 0 || static_cast<size_t>(length) >= sizeof fileName) {
        error = ENAMETOOLONG;
        break;
      }
    }
    if (CompanionExists(fileName, companions)) {
      error = EEXIST;  // a file of that number is there already
      continue;
    }
    file = std::fopen(fileName, "w+x");
    error = file ? 0 : errno;
  } while (!file && error == EEXIST);
  if (file) {
    if (!mRecordingBuffer) {
      mRecordingBuffer = std::make_unique<char[]>(kRecordingBufferBytes);
    }
    std::setvbuf(file, mRecordingBuffer.get(), _IOFBF, kRecordingBufferBytes);
  }
  {
    CClassMutex::CGuard lock(mMutex);
    mFileCount = count;
    std::memcpy(mFileName, fileName, sizeof mFileName);
    if (!file) {
      // The reason with the count, in one step.
      mLastError = "File " + std::string(fileName) + " could not be opened: " + std::strerror(error);
      ++mErrorNumber;
      ++mRecordingFailures;
    } else {
      mFileBytes = 0;
      mFileRecords = 0;
      ++mFilesWritten;
      mSaveFile = file;
    }
  }
  if (!file) {
    throw GeneralException("Error opening save data file.  errno = %x", error);
  }
  mRunFiles.Opened(fileName, mFileSplit.maxFiles);
  mFileUnits = 0;
  mBufferedBytes = 0;
  mBufferedRecords = 0;
  mWriteError = 0;
  // The first flush looks at once whether the file still has its name.
  mNextDeletedFileCheck = std::chrono::steady_clock::time_point::min();
  const std::string_view header = recording::CsvHeader();
  WriteRecordingText(header.data(), header.size());
  WriteRecordingText("\n", 1);
}

bool CSkarvIO::WriteRecordingText(const char* text, size_t length) {
  FILE* file = mSaveFile.load(std::memory_order_relaxed);
  if (!file || mWriteError != 0) {
    return false;
  }
  if (std::fwrite(text, 1, length, file) != length) {
    // Ended by the flush that follows, outside the controller's lock.
    mWriteError = errno != 0 ? errno : EIO;
    return false;
  }
  mBufferedBytes += length;
  return true;
}

void CSkarvIO::FlushRecordingFile() {
  FILE* file = mSaveFile.load(std::memory_order_relaxed);
  if (!file) {
    return;
  }
  if (mWriteError != 0) {
    FailRecording(mWriteError);
    return;
  }
  if (std::fflush(file) != 0) {
    FailRecording(errno);
    return;
  }
  CountBufferedAsRecorded();
  LookForDeletedFile(file);
}

void CSkarvIO::LookForDeletedFile(FILE* file) {
  const std::chrono::steady_clock::time_point now =
      mRecordingClock ? mRecordingClock() : std::chrono::steady_clock::now();
  if (now < mNextDeletedFileCheck) {
    return;
  }
  mNextDeletedFileCheck = now + kDeletedFileCheckInterval;
  if (IsDeleted(file)) {
    ReportRecordingStopped(kDeletedReason, "");
    CloseRecordingFile(EFileEnd::eDeleted);
  }
}

void CSkarvIO::FailRecording(int error) {
  const int cause = error != 0 ? error : EIO;
  ReportRecordingStopped(std::strerror(cause), cause == ENOSPC || cause == EDQUOT ? " (disk full)" : "");
  CloseRecordingFile(EFileEnd::eFailed);
}

void CSkarvIO::ReportRecordingStopped(const std::string& reason, const char* note) {
  DiagPrintf(EDiagLevel::eAlways, "Recording to %s stopped: %s\n", mFileName, reason.c_str());
  // The reason and the count in one step: a reader that sees the failure
  // counted sees why.
  CClassMutex::CGuard lock(mMutex);
  mLastError = "Recording to " + std::string(mFileName) + " stopped: " + reason + note;
  ++mErrorNumber;
  ++mRecordingFailures;
  mWriteFile = false;
}

void CSkarvIO::CloseRecordingFile(EFileEnd end) {
  FILE* file = mSaveFile.load();
  if (!file) {
    return;
  }
  if (end == EFileEnd::eOrderly && mWriteError != 0) {
    // A write failed since the last flush: the recording ends as failed.
    const int error = mWriteError;
    mWriteError = 0;
    FailRecording(error);
    return;
  }
  // A stop within a second of the file's deletion, before the data path's
  // next look, still finds it.
  if (end == EFileEnd::eOrderly && IsDeleted(file)) {
    ReportRecordingStopped(kDeletedReason, "");
    end = EFileEnd::eDeleted;
  }
  // The descriptor outlives the stream, so that whatever the close itself
  // managed to write can still be cut back to a complete line and counted.
  const int fd = ::dup(::fileno(file));
  const bool closed = std::fclose(file) == 0;
  const int error = errno;
  if (end == EFileEnd::eDeleted) {
    ForgetRecordingFile();
  } else if (end == EFileEnd::eOrderly && closed) {
    CountBufferedAsRecorded();
  } else {
    if (end == EFileEnd::eOrderly) {
      ReportRecordingStopped(std::strerror(error), "");
    }
    KeepCompleteLines(fd);
  }
  if (fd >= 0) {
    ::close(fd);
  }
  // The close waited for the disk outside the lock; the panel sees the
  // recording end once the counts are those of the file as closed.
  CClassMutex::CGuard lock(mMutex);
  mSaveFile = nullptr;
}

void CSkarvIO::CountBufferedAsRecorded() {
  CClassMutex::CGuard lock(mMutex);
  mFileBytes += mBufferedBytes;
  mFileRecords += mBufferedRecords;
  mRecordsRecorded += mBufferedRecords;
  mBufferedBytes = 0;
  mBufferedRecords = 0;
}

void CSkarvIO::KeepCompleteLines(int fd) {
  mBufferedBytes = 0;
  mBufferedRecords = 0;
  if (fd < 0) {
    return;  // the file cannot be read: what the last flush put there counts
  }
  // mFileBytes changes on this thread alone: read here without the lock.
  const T_KeptLines kept = CutToLastCompleteLine(fd, static_cast<off_t>(mFileBytes));
  uint64_t records = kept.lines;
  // No flush has succeeded yet: the first line end kept is the header's.
  if (mFileBytes == 0) {
    if (records == 0) {
      // Created by this recording alone (exclusively), and of no use without
      // its header: a replay would refuse it.
      {
        CClassMutex::CGuard lock(mMutex);
        --mFilesWritten;
      }
      if (::unlink(mFileName) == 0) {
        DiagPrintf(EDiagLevel::eAlways, "Removed %s: the file could not take its header line\n", mFileName);
      } else {
        DiagPrintf(EDiagLevel::eAlways, "%s could not take its header line, nor be removed: %s\n", mFileName,
                   std::strerror(errno));
      }
      return;
    }
    --records;
  }
  CClassMutex::CGuard lock(mMutex);
  mFileBytes = static_cast<uint64_t>(kept.size);
  mFileRecords += records;
  mRecordsRecorded += records;
}

void CSkarvIO::ForgetRecordingFile() {
  CClassMutex::CGuard lock(mMutex);
  --mFilesWritten;
  mRecordsRecorded -= mFileRecords;
  mFileRecords = 0;
  mFileBytes = 0;
  mBufferedBytes = 0;
  mBufferedRecords = 0;
}

void CSkarvIO::SaveFileTimeIncrement() {
  if (!mSaveFile.load(std::memory_order_relaxed)) {
    return;
  }
  if (!mRawRecord) {
    return;
  }
  char line[recording::kCsvLineCapacity];
  if (WriteRecordingText(line, recording::FormatCsvLine(*mRawRecord, line))) {
    ++mBufferedRecords;
    mFileUnits += mRawRecord->DeltTime();
  }
}
