#pragma once
// The sensor's sample frames, independent of any pipe, in both directions. A
// frame is a 28-byte status and IMU header (fourteen big-endian 16-bit words:
// supply, laser temperature, laser power, an auxiliary word, ten IMU words)
// followed by 8-byte sample entries (count, raw distance, width, flags).

#include <cstdint>

#include "RawRecord.h"
#include "SampleRecord.h"

namespace kiv {

inline constexpr int kSampleHeaderBytes = 28;
inline constexpr int kSampleEntryBytes = 8;

// Decodes the `bytes`-byte frame at `frame` into out[0], out[1], ... (each
// with `hostTimeNs`) and returns how many records it wrote. Only whole
// entries count; bytes after the last one are ignored, and a frame with no
// whole entry (any length below 36, negative ones included) gives 0. The
// counts must run on by one (modulo 65536) from the first entry's: the
// first entry that breaks the sequence ends the frame. At most `capacity`
// records are written; no slot of `out` past the returned count is touched.
// A null frame or output gives 0. Reads only `frame` and writes only `out`.
int DecodeSampleFrame(const uint8_t* frame, int bytes, T_RawRecord* out, int capacity, int64_t hostTimeNs = 0);

// The scaled record of a raw one: the readings its words stand for.
T_Record ScaledRecord(const T_RawRecord& raw);

// Writes the frame header of `record` (28 bytes) and its sample entry (8
// bytes), as the sensor puts them on the wire.
void EncodeFrameHeader(uint8_t* out, const T_RawRecord& record);
void EncodeSampleEntry(uint8_t* out, const T_RawRecord& record);

}  // namespace kiv
