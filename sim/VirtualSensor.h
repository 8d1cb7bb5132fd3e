#pragma once
// Device-side model of the rotating laser range sensor with its IMU. It is
// written from the sensor's wire formats alone (it shares no code with the
// client's decoders), so that tests comparing the two catch a mistake in either.
//
// Wire formats (every multi-byte word big-endian, unsigned 16 bits):
//  - isochronous frame on 0x82, one per 1 ms bus frame: a 28-byte header of 14
//    words (supply voltage, laser temperature, laser power, auxiliary word,
//    AccelX, AccelY, AccelZ, IMU temperature, GyroX, GyroY, GyroZ, MagX, MagY,
//    MagZ), then one 8-byte entry per sample taken in that millisecond:
//    count, raw distance, width, flags (bit 15 scan state, bits 14..1 the time
//    since the previous sample, bit 0 zero);
//  - command frame on 0x01: command byte, data (2 bytes), command number (2 bytes);
//  - parameter frame on 0x81: eight setting words, then the number of the last
//    command processed (18 bytes).

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "CommandResponder.h"
#include "Room.h"
#include "SensorIdentity.h"
#include "VirtualDevice.h"

namespace sim {

class CVirtualSensor : public CVirtualDevice {
 public:
  static constexpr uint16_t kVendorId = SensorIdentity::kVendorId;
  static constexpr uint16_t kProductId = SensorIdentity::kProductId;
  static constexpr uint8_t kCommandEndpoint = SensorIdentity::kCommandEndpoint;
  static constexpr uint8_t kStatusEndpoint = SensorIdentity::kStatusEndpoint;
  static constexpr uint8_t kDataEndpoint = SensorIdentity::kDataEndpoint;
  static constexpr uint16_t kInterruptPacketSize = SensorIdentity::kInterruptPacketSize;
  static constexpr uint16_t kIsoPacketSize = SensorIdentity::kIsoPacketSize;
  static constexpr size_t kHeaderBytes = SensorIdentity::kHeaderBytes;
  static constexpr size_t kEntryBytes = SensorIdentity::kEntryBytes;
  static constexpr size_t kParameterBytes = CCommandResponder::kParameterBytes;

  // Samples taken per rotation, whatever the rotation rate: just under the
  // 2000 angle steps of a turn that the scan view draws, so that a rotation
  // fills nearly the whole circle and its scan is never cut short.
  static constexpr unsigned kSamplesPerRotation = 1998;
  // Unit of the per-sample time field: 10 microseconds.
  static constexpr unsigned kTimeUnitsPerMs = SensorIdentity::kTimeUnitsPerMs;
  // At power-up a sample every 25 microseconds: exactly 40 a millisecond,
  // a rotation in 49.95 ms (about 1201 rpm).
  static constexpr uint64_t kDefaultIntervalNum = 5;  // time units per sample, as a fraction
  static constexpr uint64_t kDefaultIntervalDen = 2;
  static constexpr unsigned kDefaultRpm = 1201;
  static constexpr unsigned kMinRpm = 300;
  // 120 samples a millisecond at most, so a frame always fits a 1023-byte packet.
  static constexpr unsigned kMaxRpm = 3600;
  static constexpr uint16_t kLaserOffRawDistance = 60000;

  // Factory settings, Values[0] to Values[7].
  static constexpr std::array<uint16_t, 8> kDefaultValues = CCommandResponder::kDefaultValues;

  // `seed` drives the noise; `room` is what the sensor sees around it.
  explicit CVirtualSensor(uint32_t seed = 1, const char* serialNumber = "SKV00001", const CRoom& room = CRoom());

  // CVirtualDevice
  const DeviceDescription& Description() const override;
  void PowerUp() override;
  size_t ProduceIsoPacket(uint8_t endpoint, uint32_t frame, uint8_t* out, size_t capacity) override;
  bool ReceiveOut(uint8_t endpoint, const uint8_t* data, size_t length) override;
  bool SendIn(uint8_t endpoint, uint8_t* out, size_t capacity, size_t& length) override;

  // What the device is doing now (safe from any thread).
  std::array<uint16_t, 8> Values() const;
  uint16_t LastCommandNumber() const;
  bool LaserOn() const;
  unsigned RotationRpm() const;
  uint16_t NextCount() const;      // sequence number of the next sample
  uint64_t SamplesTaken() const;   // since power-up, including dropped ones

  using ReceivedCommand = CCommandResponder::ReceivedCommand;
  std::vector<ReceivedCommand> ReceivedCommands() const;  // since construction

  const CRoom& Room() const { return mRoom; }

  // Fault injection (any thread).
  void DropSamples(unsigned count);                 // the next `count` samples are lost: a count gap
  void BreakSequenceInNextFrame();                  // the next frame with two or more entries skips a count inside it
  void ShortenNextFrames(unsigned frames, size_t length);  // the next `frames` frames are cut to `length` bytes
  void SetStatusSilent(bool silent);                // the status endpoint NAKs every read

 private:
  struct T_Sample {
    uint64_t index;     // samples taken since power-up before this one
    uint16_t count;     // sequence number on the wire
    uint16_t deltTime;  // time since the previous sample, in time units
  };

  void PowerUpLocked();
  uint64_t NextRandom();
  int Noise(int amplitude);  // uniform in [-amplitude, amplitude]
  uint64_t SampleTime(uint64_t sample) const;
  T_Sample TakeSample();
  void WriteHeader(uint8_t* out);
  void WriteEntry(uint8_t* out, const T_Sample& sample);
  void ApplyDeviceCommand(uint8_t command, uint16_t data);

  // Guards everything below; bus calls and the accessors above take it.
  mutable std::mutex mMutex;
  DeviceDescription mDescription;
  CRoom mRoom;
  // The room as seen at each sample angle of a rotation: raw distance and width.
  std::array<uint16_t, kSamplesPerRotation> mRoomDistance{};
  std::array<uint16_t, kSamplesPerRotation> mRoomWidth{};
  uint32_t mSeed;
  uint64_t mRandomState = 0;

  // The settings and the command handshake; the laser and the rotation
  // rate, which change the samples, are kept here.
  CCommandResponder mCommands;
  bool mLaserOn = true;
  unsigned mRpm = kDefaultRpm;

  // Sampling clock, times in 1/kTimeUnitsPerMs ms since power-up: sample k is
  // taken at mBaseTimeUnits + (k - mBaseSample) * mIntervalNum / mIntervalDen,
  // rounded down. A change of rate re-bases the clock at the next sample,
  // which keeps its time.
  uint64_t mIntervalNum = kDefaultIntervalNum;
  uint64_t mIntervalDen = kDefaultIntervalDen;
  uint64_t mNextSample = 0;  // samples taken since power-up
  uint64_t mBaseSample = 0;
  uint64_t mBaseTimeUnits = 0;
  uint64_t mElapsedMs = 0;   // bus frames since power-up
  uint64_t mLastSampleTimeUnits = 0;
  uint16_t mNextCount = 0;

  // Faults.
  unsigned mDropSamples = 0;
  bool mBreakSequence = false;
  unsigned mShortFrames = 0;
  size_t mShortLength = 0;
};

}  // namespace sim
