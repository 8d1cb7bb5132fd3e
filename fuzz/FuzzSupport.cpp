#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

std::unique_ptr<uint8_t[]> ExactCopy(const uint8_t* data, size_t size) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
  if (size > 0) {
    std::memcpy(copy.get(), data, size);
  }
  return copy;
}

}  // namespace fuzz
