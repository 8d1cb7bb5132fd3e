#include "RollingFiles.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Diagnostics.h"

void CRollingFiles::Opened(const std::string& path, uint32_t maxFiles) {
  mFiles.push_back(path);
  while (maxFiles > 0 && mFiles.size() > maxFiles) {
    const std::string oldest = mFiles.front();
    mFiles.pop_front();
    if (::unlink(oldest.c_str()) == 0) {
      DiagPrintf(EDiagLevel::eAlways, "Removed %s: the last %u files are kept\n", oldest.c_str(), maxFiles);
    } else if (errno != ENOENT) {
      DiagPrintf(EDiagLevel::eAlways, "%s could not be removed: %s\n", oldest.c_str(), std::strerror(errno));
    }
  }
}
