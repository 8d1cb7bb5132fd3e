#include "KivDataPipe.h"

#include <new>

#include "GeneralException.h"

namespace {

inline uint16_t ReadWord(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

}  // namespace

void CUSBKivDataPipe::Initialize(int pipeNumber) {
  CUSBIsocPipe::Initialize(pipeNumber, kFramesPerTransfer, kOverlappingTransfers);
  if (!mRecordStorage) {
    mRecordStorage.reset(new (std::nothrow) T_Record[kRecordCapacity]());
    if (!mRecordStorage) {
      throw GeneralException("Can't get record storage.", 0);
    }
  }
  mMaxRecords = kRecordCapacity;
}

int CUSBKivDataPipe::GetPipeData() {
  mNumRecords = 0;
  return CUSBIsocPipe::GetPipeData();
}

int CUSBKivDataPipe::ProcessPipeData(uint8_t* inDataPtr, int bytesInFrame) {
  // Checked before any arithmetic so that no length can overflow below.
  if (inDataPtr == nullptr || !mRecordStorage || bytesInFrame < kHeaderBytes + kEntryBytes) {
    return 0;
  }
  const int numEntries = (bytesInFrame - kHeaderBytes) / kEntryBytes;

  T_IMURecord header{};
  header.SupplyVoltage = ReadWord(inDataPtr) * kScaleRawSupplyVoltage + kScaleSupplyOffset;
  header.AnaTemp = ReadWord(inDataPtr + 2) * kScaleRawLaserTemperature + kTemperatureOffset;
  header.LaserPower = ReadWord(inDataPtr + 4);
  header.AuxWord = ReadWord(inDataPtr + 6);
  for (int channel = 0; channel < eNumIMUChannels; ++channel) {
    header.IMU[channel] = ReadWord(inDataPtr + 8 + 2 * channel);
  }

  int stored = 0;
  uint16_t expectedCount = 0;
  const uint8_t* entry = inDataPtr + kHeaderBytes;
  for (int i = 0; i < numEntries; ++i, entry += kEntryBytes) {
    if (mNumRecords >= mMaxRecords) {
      break;
    }
    T_Record& record = mRecordStorage[mNumRecords];
    record = T_Record{};
    const uint16_t count = ReadWord(entry);
    record.Count = count;
    // The sequence is checked only inside a frame; the first entry starts it.
    if (i == 0) {
      expectedCount = count;
    } else {
      ++expectedCount;
      if (expectedCount != count) {
        break;
      }
    }
    record.Distance = ReadWord(entry + 2) * kScaleRawLaserDistance;
    record.Width = ReadWord(entry + 4);
    const uint16_t flags = ReadWord(entry + 6);
    record.ScanState = flags >> 15;
    record.DeltTime = (flags >> 1) & 0x3FFF;
    record.IMURecord = header;
    ++mNumRecords;
    ++stored;
  }
  return stored;
}
