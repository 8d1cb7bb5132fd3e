// The step of the data path.

#include "Diagnostics.h"
#include "GeneralException.h"
#include "RecordSequence.h"
#include "SkarvIO.h"

int CSkarvIO::UpdateContiniousData() {
  int result = 0;
  mUpdateRecords = 0;
  try {
    mPort.AttachOrRemoveDevice();
    NoteSensorPresence();
    if (!mPort.mUSBHandle.load()) {
      return 0;
    }
    if (!mDataPipe.mActive.load()) {
      mDataPipe.StartAllReads();
    }
    try {
      UpdateFileState();
    } catch (const GeneralException& e) {
      // A file that cannot be opened never stops the data: the request is
      // withdrawn (reported once), and this update goes on with its records.
      RequestRecording(false);
      e.OutputText(DiagOut());
    }
    const int count = mDataPipe.GetPipeData();
    {
      CClassMutex::CGuard lock(mMutex);
      ProcessRecords(count, result);
    }
    // The update's lines reach the file now, outside the lock, and a full
    // disk is found within one update rather than whenever the stream's
    // buffer happens to fill.
    FlushRecordingFile();
  } catch (const GeneralException& e) {
    NoteOpenFailure(e);
    e.OutputText(DiagOut());
  }
  return result;
}

void CSkarvIO::NoteOpenFailure(const GeneralException& e) {
  if (e.Message() != "UsbK_Init failed.") {
    return;
  }
  std::string hint = OpenFailureHint(static_cast<uint32_t>(e.ErrorCode()));
  while (!hint.empty() && hint.back() == '\n') {
    hint.pop_back();
  }
  SetLastError(hint);
}

void CSkarvIO::NoteSensorPresence() {
  // The port's device entry changes only on this thread, so it is read here
  // without the port's lock; the status line reads the copy under mMutex.
  const bool open = mPort.mUSBHandle.load() != nullptr;
  CClassMutex::CGuard lock(mMutex);
  if (open != mSensorOpen) {
    mSensorOpen = open;
    // A sensor that was just opened starts its record numbers afresh.
    mGapReferenceSet = false;
    mSensorSerial = open && mPort.mDeviceInfo ? mPort.mDeviceInfo->SerialNumber : "";
  }
}

void CSkarvIO::ProcessRecords(int count, int& result) {
  mRecordsProcessed += static_cast<uint64_t>(count > 0 ? count : 0);
  mUpdateRecords = count > 0 ? count : 0;
  CUSBKivDataPipe::T_Record* records = mDataPipe.mRecordStorage.get();
  const kiv::T_RawRecord* raw = mDataPipe.mRawRecords.get();
  for (int i = 0; i < count; ++i) {
    mRawRecord = &raw[i];
    PopulateMemberVariables(&records[i]);
    SaveFileTimeIncrement();
    const int points = UpdateScanData();
    if (points > 0) {
      result = points;
    }
    ReportGap();
  }
}

void CSkarvIO::ReportGap() {
  const uint16_t count = static_cast<uint16_t>(mRecordCount);
  if (!mGapReferenceSet) {
    mGapReferenceSet = true;
  } else if (const uint16_t missing = kiv::MissingRecords(mLastRecordCount, count); missing != 0) {
    ++mGapsReported;
    DiagPrintf(EDiagLevel::eAlways, "Skiped records = %d at %d\n", missing, mRecordCount);
  }
  mLastRecordCount = count;
}
