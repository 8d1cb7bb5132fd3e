#pragma once
// The sensor's isochronous data pipe. Every isochronous packet carries one
// frame: a 28-byte status and IMU header followed by 8-byte sample entries,
// all as big-endian 16-bit words. The pipe cuts each frame into the
// sensor's raw records (with DecodeSampleFrame) and their scaled T_Record
// entries, in two flat storages side by side (record i of one is record i
// of the other) that are allocated once and reused by every GetPipeData call.

#include <cstdint>
#include <memory>

#include "RawRecord.h"
#include "SampleFrameCodec.h"
#include "SampleRecord.h"
#include "UsbIsocPipe.h"

class CUSBKivDataPipe : public CUSBIsocPipe {
 public:
  static constexpr double kScaleRawSupplyVoltage = kiv::kScaleRawSupplyVoltage;
  static constexpr double kScaleSupplyOffset = kiv::kScaleSupplyOffset;
  static constexpr double kScaleRawLaserTemperature = kiv::kScaleRawLaserTemperature;
  static constexpr double kTemperatureOffset = kiv::kTemperatureOffset;
  static constexpr double kScaleRawLaserDistance = kiv::kScaleRawLaserDistance;
  static constexpr double kScaleRawWidth = kiv::kScaleRawWidth;

  // Frame geometry on the wire.
  static constexpr int kHeaderBytes = kiv::kSampleHeaderBytes;
  static constexpr int kEntryBytes = kiv::kSampleEntryBytes;
  static constexpr int kRecordCapacity = 5120;
  // Transfer geometry of the data endpoint.
  static constexpr int kFramesPerTransfer = 16;
  static constexpr int kOverlappingTransfers = 10;

  // The record types and the IMU channel names, reachable through the pipe
  // as well (CUSBKivDataPipe::T_Record, CUSBKivDataPipe::eAccelX).
  using eIMUIndices = kiv::eIMUIndices;
  using enum kiv::eIMUIndices;
  using T_IMURecord = kiv::T_IMURecord;
  using T_Record = kiv::T_Record;
  using T_RawRecord = kiv::T_RawRecord;

  using CUSBIsocPipe::Initialize;
  // Sets up the isochronous geometry and allocates the record storage (once).
  void Initialize(int pipeNumber);

  // Collects every completed transfer; returns the number of records now in
  // mRecordStorage, valid until the next call.
  int GetPipeData() override;

  // Decodes one frame of `bytesInFrame` bytes into the storage and returns
  // the number of records it stored.
  int ProcessPipeData(uint8_t* inDataPtr, int bytesInFrame) override;

  // The most records one transfer can carry: every packet full of entries.
  int RecordsPerTransfer() const;

  std::unique_ptr<T_Record[]> mRecordStorage;
  // The raw records the scaled ones were made from, stamped with the host
  // time of the collection that took them in.
  std::unique_ptr<T_RawRecord[]> mRawRecords;
  int32_t mMaxRecords = 0;
  int32_t mNumRecords = 0;

 protected:
  // A collection takes a completed transfer only when the storage can hold
  // all of its records (an empty storage always takes one), so no decoded
  // record is ever dropped for lack of room: the transfers left wait in the
  // ring for the next GetPipeData.
  bool RoomForTransfer() const override;

 private:
  int64_t mCollectionTimeNs = 0;  // of the GetPipeData under way
};
