#pragma once
// Helpers of the decoder fuzz targets.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fuzz {

// Stops the run as a finding (libFuzzer saves the input) when `holds` is false.
void Require(bool holds, const char* what);

// A heap copy of exactly `size` bytes, so that AddressSanitizer reports a
// read one byte past what the decoder was given.
std::unique_ptr<uint8_t[]> ExactCopy(const uint8_t* data, size_t size);

inline uint16_t Word(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

}  // namespace fuzz
