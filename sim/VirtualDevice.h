#pragma once
// A device that can be plugged into the virtual USB bus. The bus calls these
// operations one at a time (it holds its own lock around each call); a device
// that also offers operations to other threads guards its state itself.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Endpoint transfer types as in the USB endpoint descriptor's bmAttributes.
enum class EndpointType : uint8_t { eControl = 0, eIsochronous = 1, eBulk = 2, eInterrupt = 3 };

struct EndpointDescription {
  uint8_t address = 0;  // bit 7 set for IN endpoints
  EndpointType type = EndpointType::eInterrupt;
  uint16_t maxPacketSize = 0;
  uint8_t interval = 1;  // polling interval in frames
};

struct DeviceDescription {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint8_t interfaceNumber = 0;
  uint8_t alternateSetting = 0;
  uint8_t interfaceClass = 0xFF;  // vendor specific
  std::vector<EndpointDescription> endpoints;
  std::string instanceId;
  std::string description;
  std::string manufacturer;
  std::string serialNumber;
};

class CVirtualDevice {
 public:
  virtual ~CVirtualDevice() = default;

  virtual const DeviceDescription& Description() const = 0;

  // The device has just been plugged in: it starts from its power-on state.
  virtual void PowerUp() = 0;

  // One 1 ms bus frame passes. Called exactly once per frame for every
  // isochronous IN endpoint, whether or not the host has a transfer queued for
  // that frame (data of an unread frame is lost, as on a real bus), unless the
  // device keeps its unread data (below). Writes the packet the device sends
  // in this frame and returns its length (at most `capacity`: the endpoint's
  // maximum packet size, or less when the host's packet slot is smaller).
  virtual size_t ProduceIsoPacket(uint8_t endpoint, uint32_t frame, uint8_t* out, size_t capacity) = 0;

  // A device that holds its data while the host does not read it (one that
  // plays back what it was given, rather than sampling the world): the bus
  // calls ProduceIsoPacket for it only in frames a queued host packet covers,
  // and not while the stream is stalled.
  virtual bool KeepsUnreadData() const { return false; }
  // Such a device has more data ready than its last packet could carry (it
  // is behind): a bus that catches up runs the next frame a queued host
  // packet covers at once instead of at its time. Asked under the bus lock
  // after each packet.
  virtual bool HasDataWaiting() const { return false; }
  // Such a device hears of every frame before its packets, read or not:
  // `catchingUp` when the bus runs it ahead of its time, so that a device
  // that keeps a pace counts the frames that ran at their time alone.
  // Called under the bus lock.
  virtual void FrameRuns(bool /*catchingUp*/) {}

  // The host sends `length` bytes on an OUT endpoint. Returns false when the
  // device refuses them (the bus then ends the transfer with a stall).
  virtual bool ReceiveOut(uint8_t endpoint, const uint8_t* data, size_t length) = 0;

  // The host asks for data on an interrupt or bulk IN endpoint. Returns true and
  // the packet when the device has one ready (at most `capacity` bytes),
  // false when it has nothing to send (it NAKs and the host asks again later).
  virtual bool SendIn(uint8_t endpoint, uint8_t* out, size_t capacity, size_t& length) = 0;
};

}  // namespace sim
