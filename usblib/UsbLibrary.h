#pragma once
// The USB library layer: every USB access of the client goes through these
// calls. Each returns true on success; on failure it returns false and leaves
// a system error code in the calling thread's last-error word (GetLastError).
// Transfers are asynchronous: a queued transfer returns false with last error
// kErrorIoPending (997), and its overlapped handle is waited on later.
//
// The calls act on a backend chosen once at start-up (UsbLib_SetBackend): the
// virtual sensor's bus or real devices. Every handle given to a call is
// checked: a null, freed or foreign handle fails with kErrorInvalidParameter,
// a device that has gone away with kErrorDeviceNotConnected; no call crashes.

#include <memory>

#include "UsbTypes.h"

class CUsbBackend;

// The calling thread's last error word.
uint32_t GetLastError();
void SetLastError(uint32_t errorCode);

// Backend selection. Setting a backend first shuts the previous one down:
// monitors are stopped, transfers in flight cancelled and every list, device
// and pool handle freed (later calls with those handles fail). Isochronous
// contexts stay valid until IsoK_Free. Passing null leaves no backend, and
// every call then fails with kErrorDeviceNotConnected.
void UsbLib_SetBackend(std::shared_ptr<CUsbBackend> backend);
std::shared_ptr<CUsbBackend> UsbLib_GetBackend();

// Waits until every hot-plug notification raised so far has been delivered to
// the monitors' callbacks (at most timeoutMs; returns false on time-out).
bool UsbLib_FlushHotplug(int timeoutMs = 5000);

// Device list.
bool LstK_Init(KLST_HANDLE* deviceList, unsigned flags);
bool LstK_Count(KLST_HANDLE deviceList, unsigned* count);
bool LstK_FindByVidPid(KLST_HANDLE deviceList, int vid, int pid, KLST_DEVINFO_HANDLE* deviceInfo);
// Walks the list: each call hands out the next entry, and fails with
// kErrorNoMoreItems past the last; LstK_MoveReset goes back to the start.
bool LstK_MoveNext(KLST_HANDLE deviceList, KLST_DEVINFO_HANDLE* deviceInfo);
bool LstK_MoveReset(KLST_HANDLE deviceList);
bool LstK_Free(KLST_HANDLE deviceList);

// Device handle and interface.
bool UsbK_Init(KUSB_HANDLE* usbHandle, KLST_DEVINFO_HANDLE deviceInfo);
bool UsbK_Free(KUSB_HANDLE usbHandle);
bool UsbK_SelectInterface(KUSB_HANDLE usbHandle, uint8_t numberOrIndex, bool isIndex);
bool UsbK_QueryInterfaceSettings(KUSB_HANDLE usbHandle, uint8_t altSettingIndex,
                                 USB_INTERFACE_DESCRIPTOR* descriptor);
bool UsbK_SetAltInterface(KUSB_HANDLE usbHandle, uint8_t numberOrIndex, bool isIndex, uint8_t altSettingNumber);
bool UsbK_QueryPipe(KUSB_HANDLE usbHandle, uint8_t altSettingNumber, uint8_t pipeIndex,
                    WINUSB_PIPE_INFORMATION* pipeInfo);
bool UsbK_GetCurrentFrameNumber(KUSB_HANDLE usbHandle, unsigned* frameNumber);

// Transfers. `lengthTransferred` must be null: completion is collected from
// the overlapped handle, which must be given.
bool UsbK_ResetPipe(KUSB_HANDLE usbHandle, uint8_t pipeId);
bool UsbK_AbortPipe(KUSB_HANDLE usbHandle, uint8_t pipeId);
bool UsbK_ReadPipe(KUSB_HANDLE usbHandle, uint8_t pipeId, uint8_t* buffer, unsigned bufferLength,
                   unsigned* lengthTransferred, KOVL_HANDLE overlapped);
bool UsbK_WritePipe(KUSB_HANDLE usbHandle, uint8_t pipeId, uint8_t* buffer, unsigned bufferLength,
                    unsigned* lengthTransferred, KOVL_HANDLE overlapped);
bool UsbK_IsoReadPipe(KUSB_HANDLE usbHandle, uint8_t pipeId, uint8_t* buffer, unsigned bufferLength,
                      KOVL_HANDLE overlapped, PKISO_CONTEXT isoContext);

// Overlapped pool.
bool OvlK_Init(KOVL_POOL_HANDLE* pool, KUSB_HANDLE usbHandle, int maxOverlappedCount, unsigned flags);
bool OvlK_Free(KOVL_POOL_HANDLE pool);
bool OvlK_Acquire(KOVL_HANDLE* overlapped, KOVL_POOL_HANDLE pool);
bool OvlK_Release(KOVL_HANDLE overlapped);
bool OvlK_ReUse(KOVL_HANDLE overlapped);
// Waits up to timeoutMs (0: just looks, negative: no limit). True once the
// transfer completed without error; false with kErrorSemTimeout while still
// pending, or with the transfer's own error (kErrorOperationAborted when it
// was cancelled).
bool OvlK_Wait(KOVL_HANDLE overlapped, int timeoutMs, unsigned waitFlags, unsigned* transferredLength);
// As OvlK_Wait, but a transfer still pending at the time-out is cancelled
// (false, kErrorOperationAborted, length 0); once it returns, the transfer no
// longer touches its buffer.
bool OvlK_WaitOrCancel(KOVL_HANDLE overlapped, int timeoutMs, unsigned* transferredLength);
// As OvlK_Wait, and the handle goes back to its pool whatever the result. A
// transfer still pending at the time-out goes on; its handle returns to the
// pool when it ends, and may be waited on again until it is acquired anew.
bool OvlK_WaitAndRelease(KOVL_HANDLE overlapped, int timeoutMs, unsigned* transferredLength);

// Isochronous contexts.
bool IsoK_Init(PKISO_CONTEXT* isoContext, int numberOfPackets, int startFrame);
bool IsoK_SetPackets(PKISO_CONTEXT isoContext, int packetSize);
bool IsoK_Free(PKISO_CONTEXT isoContext);

// Hot-plug monitor. The callback runs on the layer's own notification thread.
bool HotK_Init(KHOT_HANDLE* hotHandle, KHOT_PARAMS* params);
bool HotK_Free(KHOT_HANDLE hotHandle);
