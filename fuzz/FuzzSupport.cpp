#include "FuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

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

void SilenceStdout() {
  std::fflush(stdout);
  const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (sink >= 0) {
    dup2(sink, STDOUT_FILENO);
    close(sink);
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
