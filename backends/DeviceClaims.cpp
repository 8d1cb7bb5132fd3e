#include "DeviceClaims.h"

bool CDeviceClaims::Claim(uint32_t device) {
  std::lock_guard<std::mutex> lock(mMutex);
  return mHeld.insert(device).second;
}

void CDeviceClaims::Release(uint32_t device) {
  std::lock_guard<std::mutex> lock(mMutex);
  mHeld.erase(device);
}
