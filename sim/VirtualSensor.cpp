#include "VirtualSensor.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {

namespace {

// Time units in one minute, for turning a rotation rate into a sample interval.
constexpr uint64_t kTimeUnitsPerMinute = 60'000ULL * CVirtualSensor::kTimeUnitsPerMs;

// Header readings around which the noise plays. The supply reads 12.0 V
// (raw * 0.0022711 + 1.06), the laser 35 degrees C (raw * 0.01162 - 27) and
// the IMU 35 degrees C too (signed raw * 0.0052941 + 95).
constexpr int kSupplyRaw = 4817;
constexpr int kLaserTemperatureRaw = 5336;
constexpr int kLaserPowerOn = 1800;
constexpr int kGravity = 16384;  // accelerometer reading of 1 g
constexpr int kImuTemperatureRaw = -11333;
constexpr int kMagneticField[3] = {220, -95, -410};

// One sample in this many is a stray reflection outside the valid range.
constexpr uint64_t kStrayOneIn = 500;

}  // namespace

CVirtualSensor::CVirtualSensor(uint32_t seed, const char* serialNumber, const CRoom& room)
    : mDescription(SensorDescription(serialNumber, "Skarv laser range sensor")), mRoom(room), mSeed(seed) {
  for (unsigned i = 0; i < kSamplesPerRotation; ++i) {
    const double angle = 2.0 * std::numbers::pi * i / kSamplesPerRotation;
    mRoomDistance[i] = static_cast<uint16_t>(std::lround(mRoom.DistanceAt(angle) * 10.0));
    mRoomWidth[i] = static_cast<uint16_t>(std::lround(mRoom.WidthAt(angle)));
  }

  PowerUpLocked();
}

const DeviceDescription& CVirtualSensor::Description() const {
  std::lock_guard lock(mMutex);
  return mDescription;  // never changes after construction
}

void CVirtualSensor::PowerUp() {
  std::lock_guard lock(mMutex);
  PowerUpLocked();
}

void CVirtualSensor::PowerUpLocked() {
  mCommands.PowerUp();
  mLaserOn = true;
  mRpm = kDefaultRpm;
  mIntervalNum = kDefaultIntervalNum;
  mIntervalDen = kDefaultIntervalDen;
  mRandomState = mSeed;

  mNextSample = 0;
  mBaseSample = 0;
  mBaseTimeUnits = 0;
  mElapsedMs = 0;
  mLastSampleTimeUnits = 0;
  mNextCount = 0;

  mDropSamples = 0;
  mBreakSequence = false;
  mShortFrames = 0;
  mShortLength = 0;
}

// splitmix64: small, fast and the same on every platform.
uint64_t CVirtualSensor::NextRandom() {
  uint64_t z = (mRandomState += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

int CVirtualSensor::Noise(int amplitude) {
  const auto span = static_cast<uint64_t>(2 * amplitude + 1);
  return static_cast<int>(NextRandom() % span) - amplitude;
}

uint64_t CVirtualSensor::SampleTime(uint64_t sample) const {
  return mBaseTimeUnits + (sample - mBaseSample) * mIntervalNum / mIntervalDen;
}

CVirtualSensor::T_Sample CVirtualSensor::TakeSample() {
  const uint64_t time = SampleTime(mNextSample);
  // The first sample after power-up has no predecessor: it reports the nominal interval.
  const uint64_t delt = mNextSample == 0 ? mIntervalNum / mIntervalDen : time - mLastSampleTimeUnits;
  const T_Sample sample{mNextSample, mNextCount, static_cast<uint16_t>(delt & 0x3FFF)};
  mLastSampleTimeUnits = time;
  ++mNextSample;
  ++mNextCount;
  return sample;
}

size_t CVirtualSensor::ProduceIsoPacket(uint8_t endpoint, uint32_t /*frame*/, uint8_t* out, size_t capacity) {
  std::lock_guard lock(mMutex);
  if (endpoint != kDataEndpoint) {
    return 0;
  }
  // The device keeps its own millisecond clock: each call is the next millisecond.
  const uint64_t frameEnd = (mElapsedMs + 1) * kTimeUnitsPerMs;
  uint64_t due = 0;
  while (SampleTime(mNextSample + due) < frameEnd) {
    ++due;
  }
  const bool hasHeader = capacity >= kHeaderBytes;
  const uint64_t dropped = std::min<uint64_t>(due, mDropSamples);
  mDropSamples -= static_cast<unsigned>(dropped);
  const uint64_t fits = hasHeader ? (capacity - kHeaderBytes) / kEntryBytes : 0;
  const uint64_t entries = std::min(due - dropped, fits);

  for (uint64_t i = 0; i < dropped; ++i) {
    TakeSample();
  }
  uint64_t breakAt = 0;  // 0: no break; entry 0 has no predecessor in the frame to break from
  if (mBreakSequence && entries >= 2) {
    breakAt = entries / 2;
    mBreakSequence = false;
  }
  if (hasHeader) {
    WriteHeader(out);
  }
  for (uint64_t i = 0; i < entries; ++i) {
    if (i == breakAt && breakAt != 0) {
      ++mNextCount;  // a count that no sample carries
    }
    WriteEntry(out + kHeaderBytes + i * kEntryBytes, TakeSample());
  }
  // Samples that do not fit into the packet are lost: the host sees a count gap.
  for (uint64_t i = dropped + entries; i < due; ++i) {
    TakeSample();
  }

  size_t length = hasHeader ? kHeaderBytes + entries * kEntryBytes : 0;
  if (mShortFrames > 0) {
    --mShortFrames;
    length = std::min(length, mShortLength);
  }
  ++mElapsedMs;
  return length;
}

void CVirtualSensor::WriteHeader(uint8_t* out) {
  const int words[14] = {
      kSupplyRaw + Noise(3),
      kLaserTemperatureRaw + Noise(3),
      mLaserOn ? kLaserPowerOn + Noise(5) : 0,
      static_cast<int>(mElapsedMs & 0xFFFF),
      Noise(24),                  // AccelX
      Noise(24),                  // AccelY
      kGravity + Noise(24),       // AccelZ
      kImuTemperatureRaw + Noise(2),
      Noise(6),                   // GyroX
      Noise(6),                   // GyroY
      Noise(6),                   // GyroZ
      kMagneticField[0] + Noise(4),
      kMagneticField[1] + Noise(4),
      kMagneticField[2] + Noise(4),
  };
  for (size_t i = 0; i < 14; ++i) {
    PutWireWord(out + 2 * i, words[i]);
  }
}

void CVirtualSensor::WriteEntry(uint8_t* out, const T_Sample& sample) {
  const size_t angle = sample.index % kSamplesPerRotation;
  const int scanState = static_cast<int>((sample.index / kSamplesPerRotation) % 2);
  int distance = kLaserOffRawDistance;
  int width = 0;
  if (mLaserOn) {
    distance = mRoomDistance[angle] + Noise(2);
    width = mRoomWidth[angle] + Noise(3);
    if (NextRandom() % kStrayOneIn == 0) {
      // A stray reflection: either far beyond the room or far too wide.
      if (NextRandom() % 2 == 0) {
        distance = 20001 + static_cast<int>(NextRandom() % 30000);
      } else {
        width = 301 + static_cast<int>(NextRandom() % 700);
      }
    }
  }
  PutWireWord(out, sample.count);
  PutWireWord(out + 2, distance);
  PutWireWord(out + 4, width);
  PutWireWord(out + 6, (scanState << 15) | (sample.deltTime << 1));
}

bool CVirtualSensor::ReceiveOut(uint8_t endpoint, const uint8_t* data, size_t length) {
  std::lock_guard lock(mMutex);
  const auto command = mCommands.Receive(endpoint, data, length);
  if (command) {
    ApplyDeviceCommand(command->command, command->data);
  }
  return command.has_value();
}

// The commands that change how the sensor samples; the settings commands are
// the command responder's.
void CVirtualSensor::ApplyDeviceCommand(uint8_t command, uint16_t data) {
  switch (command) {
    case 'F':
      mLaserOn = data != 0;
      break;
    case 'R': {
      // Re-base the clock at the next sample, which keeps the time it was due
      // at; the samples after it follow the new rate.
      const uint64_t nextTime = SampleTime(mNextSample);
      mBaseSample = mNextSample;
      mBaseTimeUnits = nextTime;
      mRpm = std::clamp<unsigned>(data, kMinRpm, kMaxRpm);
      mIntervalNum = kTimeUnitsPerMinute;
      mIntervalDen = uint64_t{mRpm} * kSamplesPerRotation;
      break;
    }
    default:  // everything else leaves the samples as they are
      break;
  }
}

bool CVirtualSensor::SendIn(uint8_t endpoint, uint8_t* out, size_t capacity, size_t& length) {
  std::lock_guard lock(mMutex);
  return mCommands.Send(endpoint, out, capacity, length);
}

std::array<uint16_t, 8> CVirtualSensor::Values() const {
  std::lock_guard lock(mMutex);
  return mCommands.Values();
}

uint16_t CVirtualSensor::LastCommandNumber() const {
  std::lock_guard lock(mMutex);
  return mCommands.LastCommandNumber();
}

bool CVirtualSensor::LaserOn() const {
  std::lock_guard lock(mMutex);
  return mLaserOn;
}

unsigned CVirtualSensor::RotationRpm() const {
  std::lock_guard lock(mMutex);
  return mRpm;
}

uint16_t CVirtualSensor::NextCount() const {
  std::lock_guard lock(mMutex);
  return mNextCount;
}

uint64_t CVirtualSensor::SamplesTaken() const {
  std::lock_guard lock(mMutex);
  return mNextSample;
}

std::vector<CVirtualSensor::ReceivedCommand> CVirtualSensor::ReceivedCommands() const {
  std::lock_guard lock(mMutex);
  return mCommands.ReceivedCommands();
}

void CVirtualSensor::DropSamples(unsigned count) {
  std::lock_guard lock(mMutex);
  mDropSamples += count;
}

void CVirtualSensor::BreakSequenceInNextFrame() {
  std::lock_guard lock(mMutex);
  mBreakSequence = true;
}

void CVirtualSensor::ShortenNextFrames(unsigned frames, size_t length) {
  std::lock_guard lock(mMutex);
  mShortFrames = frames;
  mShortLength = length;
}

void CVirtualSensor::SetStatusSilent(bool silent) {
  std::lock_guard lock(mMutex);
  mCommands.SetStatusSilent(silent);
}

}  // namespace sim
