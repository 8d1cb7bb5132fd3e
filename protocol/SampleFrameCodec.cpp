#include "SampleFrameCodec.h"

#include <cstddef>

#include "WireWord.h"

namespace kiv {

int DecodeSampleFrame(const uint8_t* frame, int bytes, T_RawRecord* out, int capacity, int64_t hostTimeNs) {
  // Checked before any arithmetic so that no length can overflow below.
  if (frame == nullptr || out == nullptr || capacity <= 0 || bytes < kSampleHeaderBytes + kSampleEntryBytes) {
    return 0;
  }
  const int numEntries = (bytes - kSampleHeaderBytes) / kSampleEntryBytes;
  T_RawRecord header;
  header.rawSupplyVoltage = ReadWireWord(frame);
  header.rawAnaTemp = ReadWireWord(frame + 2);
  header.laserPower = ReadWireWord(frame + 4);
  header.auxWord = ReadWireWord(frame + 6);
  for (size_t channel = 0; channel < header.imu.size(); ++channel) {
    header.imu[channel] = ReadWireWord(frame + 8 + 2 * channel);
  }
  header.hostTimeNs = hostTimeNs;

  int stored = 0;
  const uint16_t firstCount = ReadWireWord(frame + kSampleHeaderBytes);
  const uint8_t* entry = frame + kSampleHeaderBytes;
  for (; stored < numEntries && stored < capacity; ++stored, entry += kSampleEntryBytes) {
    const uint16_t count = ReadWireWord(entry);
    // The sequence is checked only inside a frame; the first entry starts it.
    if (count != static_cast<uint16_t>(firstCount + stored)) {
      break;
    }
    T_RawRecord& record = out[stored];
    record = header;
    record.count = count;
    record.rawDistance = ReadWireWord(entry + 2);
    record.width = ReadWireWord(entry + 4);
    record.flags = ReadWireWord(entry + 6);
  }
  return stored;
}

T_Record ScaledRecord(const T_RawRecord& raw) {
  T_Record record{};
  T_IMURecord& header = record.IMURecord;
  header.SupplyVoltage = raw.rawSupplyVoltage * kScaleRawSupplyVoltage + kScaleSupplyOffset;
  header.AnaTemp = raw.rawAnaTemp * kScaleRawLaserTemperature + kTemperatureOffset;
  header.LaserPower = raw.laserPower;
  header.AuxWord = raw.auxWord;
  for (int channel = 0; channel < eNumIMUChannels; ++channel) {
    header.IMU[channel] = raw.imu[static_cast<size_t>(channel)];
  }
  record.Count = raw.count;
  record.Distance = raw.rawDistance * kScaleRawLaserDistance;
  record.Width = raw.width;
  record.ScanState = raw.ScanState();
  record.DeltTime = raw.DeltTime();
  return record;
}

void EncodeFrameHeader(uint8_t* out, const T_RawRecord& record) {
  WriteWireWord(out, record.rawSupplyVoltage);
  WriteWireWord(out + 2, record.rawAnaTemp);
  WriteWireWord(out + 4, record.laserPower);
  WriteWireWord(out + 6, record.auxWord);
  for (size_t channel = 0; channel < record.imu.size(); ++channel) {
    WriteWireWord(out + 8 + 2 * channel, record.imu[channel]);
  }
}

void EncodeSampleEntry(uint8_t* out, const T_RawRecord& record) {
  WriteWireWord(out, record.count);
  WriteWireWord(out + 2, record.rawDistance);
  WriteWireWord(out + 4, record.width);
  WriteWireWord(out + 6, record.flags);
}

}  // namespace kiv
