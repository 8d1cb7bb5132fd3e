#include "PermissionsHonoured.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr unsigned kOverrides = 1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH;

// The calling thread's capabilities (pid 0); the C library's wrappers are
// not part of every system, the system calls are.
bool Get(__user_cap_data_struct* data) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capget, &header, data) == 0;
}

bool Set(__user_cap_data_struct* data) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

CPermissionsHonoured::CPermissionsHonoured() {
  if (!Get(mSaved)) {
    mHolds = geteuid() != 0;
    return;
  }
  if ((mSaved[0].effective & kOverrides) == 0) {
    mHolds = true;
    return;
  }
  __user_cap_data_struct lowered[_LINUX_CAPABILITY_U32S_3] = {mSaved[0], mSaved[1]};
  lowered[0].effective &= ~kOverrides;
  mLowered = Set(lowered);
  mHolds = mLowered;
}

CPermissionsHonoured::~CPermissionsHonoured() {
  if (mLowered) Set(mSaved);
}
