#pragma once
// The kernel's side of one plugged device node, /dev/bus/usb/BBB/DDD, as
// usbdevfs offers it to libusb: claim and release, alternate settings, halts,
// URBs submitted, reaped and discarded. It answers the ioctls umockdev hands
// over from the device node, and carries every URB over the virtual USB bus to
// the device model plugged into it, so that libusb meets the same sensor the
// rest of the tests use.
//
// Like usbdevfs, it copies a URB's data in at submission and out when the URB
// is reaped, through umockdev's copies of the caller's memory (which umockdev
// reads and writes on the caller's own thread). Isochronous URBs go as soon as
// possible: right behind those queued on the endpoint, or in the next frame.
//
// Threads: ioctls arrive on umockdev's worker thread; bus transfers complete
// on the bus's clock thread (or inside Submit). One lock guards the URB
// bookkeeping; it is never held while the bus is called.

#include <glib-object.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "VirtualBus.h"
#include "VirtualDevice.h"

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

class CEmulatedUsbDevice : public std::enable_shared_from_this<CEmulatedUsbDevice> {
 public:
  // The standard descriptors of a device: device, then its configuration with
  // its one interface and that interface's endpoints.
  static std::vector<uint8_t> Descriptors(const sim::DeviceDescription& description);

  // The device on bus connection `connection`. Call Start before handing the
  // handler to the testbed.
  CEmulatedUsbDevice(std::shared_ptr<sim::CVirtualBus> bus, uint32_t connection,
                     const sim::DeviceDescription& description);
  ~CEmulatedUsbDevice();
  CEmulatedUsbDevice(const CEmulatedUsbDevice&) = delete;
  CEmulatedUsbDevice& operator=(const CEmulatedUsbDevice&) = delete;

  // Creates the ioctl handler bound to this object.
  void Start();
  UMockdevIoctlBase* Handler() const { return mHandler; }

  // The device has left the bus: every ioctl but reaping fails with ENODEV
  // from now on. Call before unplugging it from the bus, which ends its
  // transfers; those are still reaped, with -ESHUTDOWN.
  void Disconnect();

  // Another program holds the interface: claims fail with EBUSY.
  void SetClaimedElsewhere(bool claimed);

  // What the tests look at.
  struct Counters {
    unsigned opened = 0;     // device node opens
    unsigned closed = 0;     // and closes
    unsigned submitted = 0;  // URBs accepted
    unsigned reaped = 0;     // URBs handed back
    unsigned discarded = 0;  // DISCARDURB that found its URB in flight
    unsigned claims = 0;     // interface claims
    unsigned clearHalts = 0;
    // Isochronous URBs submitted after the frames behind the endpoint's queue
    // had passed: the caller fell behind the stream and data were lost.
    unsigned isoLate = 0;
    std::vector<unsigned long> unknownRequests;
  };
  Counters Count() const;
  // URBs submitted and not yet reaped, over every open of the node.
  size_t UrbsOutstanding() const;

 private:
  struct CUrb;
  struct CClient;

  static gboolean OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer anchor);
  static void OnClientConnected(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer anchor);
  static void OnClientFinalized(gpointer anchor, GObject* client);

  void HandleIoctl(UMockdevIoctlClient* client);
  int HandleRequest(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg);
  void ClientConnected(UMockdevIoctlClient* client);
  void ClientGone(UMockdevIoctlClient* client);

  int SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void AnswerControl(CUrb& urb);
  int DiscardUrb(UMockdevIoctlClient* client, unsigned long address);
  // Completes the ioctl itself (now, or for a waiting REAPURB, later).
  void ReapUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool wait);
  void TransferDone(const std::shared_ptr<CUrb>& urb, sim::TransferStatus status, size_t transferred);
  // With the lock held: hands a finished URB to its owner's waiting REAPURB,
  // or queues it to be reaped. Returns the client to complete, if any.
  UMockdevIoctlClient* Finished(const std::shared_ptr<CUrb>& urb);
  // Writes a finished URB's results into the caller's copy and points the
  // reap's result at it.
  void HandBack(CUrb& urb, UMockdevIoctlData* where);
  bool HasEndpoint(unsigned endpoint) const;
  bool HasInterface(unsigned interfaceNumber) const;
  bool ClaimedElsewhere() const;

  const std::shared_ptr<sim::CVirtualBus> mBus;
  const uint32_t mConnection;
  const sim::DeviceDescription mDescription;
  const std::vector<uint8_t> mDescriptors;
  UMockdevIoctlBase* mHandler = nullptr;

  mutable std::mutex mMutex;
  bool mConnected = true;
  bool mClaimedElsewhere = false;
  std::map<UMockdevIoctlClient*, std::unique_ptr<CClient>> mClients;
  // Isochronous scheduling per endpoint: URBs on the bus, and the frame after
  // the last one queued.
  std::map<uint8_t, unsigned> mIsoQueued;
  std::map<uint8_t, uint32_t> mIsoNextFrame;
  std::map<uint8_t, bool> mIsoStreamed;
  Counters mCounters;
};
