#include <cstdint>

namespace {
thread_local uint32_t tLastError = 0;
}

uint32_t GetLastError() { return tLastError; }

void SetLastError(uint32_t errorCode) { tLastError = errorCode; }
