#include "SampleFrameCodec.h"

#include "WireWord.h"

namespace kiv {

namespace {

T_IMURecord DecodeHeader(const uint8_t* frame) {
  T_IMURecord header{};
  header.SupplyVoltage = ReadWireWord(frame) * kScaleRawSupplyVoltage + kScaleSupplyOffset;
  header.AnaTemp = ReadWireWord(frame + 2) * kScaleRawLaserTemperature + kTemperatureOffset;
  header.LaserPower = ReadWireWord(frame + 4);
  header.AuxWord = ReadWireWord(frame + 6);
  for (int channel = 0; channel < eNumIMUChannels; ++channel) {
    header.IMU[channel] = ReadWireWord(frame + 8 + 2 * channel);
  }
  return header;
}

}  // namespace

int DecodeSampleFrame(const uint8_t* frame, int bytes, T_Record* out, int capacity) {
  // Checked before any arithmetic so that no length can overflow below.
  if (frame == nullptr || out == nullptr || capacity <= 0 || bytes < kSampleHeaderBytes + kSampleEntryBytes) {
    return 0;
  }
  const int numEntries = (bytes - kSampleHeaderBytes) / kSampleEntryBytes;
  const T_IMURecord header = DecodeHeader(frame);

  int stored = 0;
  const uint16_t firstCount = ReadWireWord(frame + kSampleHeaderBytes);
  const uint8_t* entry = frame + kSampleHeaderBytes;
  for (; stored < numEntries && stored < capacity; ++stored, entry += kSampleEntryBytes) {
    const uint16_t count = ReadWireWord(entry);
    // The sequence is checked only inside a frame; the first entry starts it.
    if (count != static_cast<uint16_t>(firstCount + stored)) {
      break;
    }
    T_Record& record = out[stored];
    record.IMURecord = header;
    record.Count = count;
    record.Distance = ReadWireWord(entry + 2) * kScaleRawLaserDistance;
    record.Width = ReadWireWord(entry + 4);
    const uint16_t flags = ReadWireWord(entry + 6);
    record.ScanState = flags >> 15;
    record.DeltTime = (flags >> 1) & 0x3FFF;
  }
  return stored;
}

}  // namespace kiv
