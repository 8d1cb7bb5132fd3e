#pragma once
// The sensor's isochronous data pipe. Every isochronous packet carries one
// frame: a 28-byte status and IMU header followed by 8-byte sample entries,
// all as big-endian 16-bit words. The pipe cuts each frame into T_Record
// entries in a flat storage that is allocated once and reused by every
// GetPipeData call.

#include <cstdint>
#include <memory>

#include "UsbIsocPipe.h"

class CUSBKivDataPipe : public CUSBIsocPipe {
 public:
  static constexpr double kScaleRawSupplyVoltage = 0.0022711;
  static constexpr double kScaleSupplyOffset = 1.06;
  static constexpr double kScaleRawLaserTemperature = 0.01162;
  static constexpr double kTemperatureOffset = -27.0;
  static constexpr double kScaleRawLaserDistance = 0.1;
  static constexpr double kScaleRawWidth = 1.0;

  // Frame geometry on the wire.
  static constexpr int kHeaderBytes = 28;
  static constexpr int kEntryBytes = 8;
  static constexpr int kRecordCapacity = 5120;
  // Transfer geometry of the data endpoint.
  static constexpr int kFramesPerTransfer = 16;
  static constexpr int kOverlappingTransfers = 10;

  // The ten IMU channels, in wire order and in the order of every IMU array.
  enum eIMUIndices {
    eAccelX = 0,
    eAccelY,
    eAccelZ,
    eIMUTemp,
    eGyroX,
    eGyroY,
    eGyroZ,
    eMagX,
    eMagY,
    eMagZ,
    eNumIMUChannels
  };

  // The status and IMU block heading a frame; copied into every record of it.
  struct T_IMURecord {
    double SupplyVoltage;
    double AnaTemp;
    int32_t IMU[eNumIMUChannels];  // raw words, zero-extended
    int32_t LaserPower;
    int32_t AuxWord;
  };

  // One decoded sample.
  struct T_Record {
    T_IMURecord IMURecord;
    double Distance;
    int32_t Count;      // 16-bit sequence number
    int32_t Width;
    int32_t ScanState;  // bit 15 of the flags word
    int32_t DeltTime;   // bits 14..1 of the flags word
  };

  using CUSBIsocPipe::Initialize;
  // Sets up the isochronous geometry and allocates the record storage (once).
  void Initialize(int pipeNumber);

  // Collects every completed transfer; returns the number of records now in
  // mRecordStorage, valid until the next call.
  int GetPipeData() override;

  // Decodes one frame of `bytesInFrame` bytes into the storage and returns
  // the number of records it stored.
  int ProcessPipeData(uint8_t* inDataPtr, int bytesInFrame) override;

  std::unique_ptr<T_Record[]> mRecordStorage;
  int32_t mMaxRecords = 0;
  int32_t mNumRecords = 0;
};
