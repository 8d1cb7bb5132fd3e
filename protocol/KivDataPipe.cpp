#include "KivDataPipe.h"

#include <new>

#include "GeneralException.h"

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
  if (!mRecordStorage || mNumRecords >= mMaxRecords) {
    return 0;
  }
  const int stored =
      kiv::DecodeSampleFrame(inDataPtr, bytesInFrame, mRecordStorage.get() + mNumRecords, mMaxRecords - mNumRecords);
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
