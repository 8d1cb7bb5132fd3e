#pragma once
// The devices a backend has open, each by a number that names one device
// while it is on the bus (a virtual bus connection; a libusb bus number and
// address). A second open of a device held already is refused as busy, as
// the kernel refuses a second claim of an interface: two ports of one
// process (two controllers) never share a sensor.

#include <cstdint>
#include <mutex>
#include <set>

class CDeviceClaims {
 public:
  bool Claim(uint32_t device);  // false when it is held already
  void Release(uint32_t device);

 private:
  std::mutex mMutex;
  std::set<uint32_t> mHeld;
};
