#include "KivDataPipe.h"

#include <chrono>
#include <new>

#include "GeneralException.h"

void CUSBKivDataPipe::Initialize(int pipeNumber) {
  CUSBIsocPipe::Initialize(pipeNumber, kFramesPerTransfer, kOverlappingTransfers);
  if (!mRecordStorage) {
    mRecordStorage.reset(new (std::nothrow) T_Record[kRecordCapacity]());
    mRawRecords.reset(new (std::nothrow) T_RawRecord[kRecordCapacity]());
    if (!mRecordStorage || !mRawRecords) {
      mRecordStorage.reset();
      mRawRecords.reset();
      throw GeneralException("Can't get record storage.", 0);
    }
  }
  mMaxRecords = kRecordCapacity;
}

int CUSBKivDataPipe::GetPipeData() {
  mNumRecords = 0;
  mCollectionTimeNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  return CUSBIsocPipe::GetPipeData();
}

int CUSBKivDataPipe::ProcessPipeData(uint8_t* inDataPtr, int bytesInFrame) {
  if (!mRecordStorage || mNumRecords >= mMaxRecords) {
    return 0;
  }
  T_RawRecord* const raw = mRawRecords.get() + mNumRecords;
  const int stored =
      kiv::DecodeSampleFrame(inDataPtr, bytesInFrame, raw, mMaxRecords - mNumRecords, mCollectionTimeNs);
  T_Record* const scaled = mRecordStorage.get() + mNumRecords;
  for (int i = 0; i < stored; ++i) {
    scaled[i] = kiv::ScaledRecord(raw[i]);
  }
  mNumRecords += stored;
  return stored;
}

int CUSBKivDataPipe::RecordsPerTransfer() const {
  const int perPacket = mPacketLength > kHeaderBytes ? (mPacketLength - kHeaderBytes) / kEntryBytes : 0;
  return mFramesPerTransfer * perPacket;
}

bool CUSBKivDataPipe::RoomForTransfer() const {
  return mNumRecords == 0 || mMaxRecords - mNumRecords >= RecordsPerTransfer();
}
