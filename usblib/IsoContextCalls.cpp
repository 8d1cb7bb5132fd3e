// Isochronous transfer contexts.

#include <new>

#include "UsbLibraryCore.h"

namespace {

using Core = CUsbLibraryCore;

// More packets than a transfer of a second of full-speed frames is a mistake.
constexpr int kMaxPackets = 1024;

}  // namespace

bool IsoK_Init(PKISO_CONTEXT* isoContext, int numberOfPackets, int startFrame) {
  if (!isoContext) {
    return Core::Fail(kErrorInvalidParameter);
  }
  *isoContext = nullptr;
  if (numberOfPackets <= 0 || numberOfPackets > kMaxPackets) {
    return Core::Fail(kErrorInvalidParameter);
  }
  auto* context = new (std::nothrow) KISO_CONTEXT{};
  auto* packets = new (std::nothrow) KISO_PACKET[numberOfPackets]{};
  if (!context || !packets) {
    delete context;
    delete[] packets;
    return Core::Fail(kErrorNotEnoughMemory);
  }
  context->StartFrame = static_cast<uint32_t>(startFrame);
  context->NumberOfPackets = static_cast<int16_t>(numberOfPackets);
  context->IsoPackets = packets;
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  core.mIsoContexts.insert(context);
  *isoContext = context;
  return Core::Succeed();
}

bool IsoK_SetPackets(PKISO_CONTEXT isoContext, int packetSize) {
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  if (!core.mIsoContexts.count(isoContext) || packetSize <= 0 ||
      !core.InFlight([&](const COverlapped& t) { return t.isoContext == isoContext; }).empty()) {
    return Core::Fail(kErrorInvalidParameter);
  }
  for (int i = 0; i < isoContext->NumberOfPackets; ++i) {
    isoContext->IsoPackets[i].Offset = static_cast<uint32_t>(i) * static_cast<uint32_t>(packetSize);
  }
  return Core::Succeed();
}

bool IsoK_Free(PKISO_CONTEXT isoContext) {
  Core& core = Core::Instance();
  std::unique_lock<std::mutex> lock(core.mMutex);
  if (!core.mIsoContexts.count(isoContext)) {
    return Core::Fail(kErrorInvalidParameter);
  }
  // A transfer still using the context ends before the context goes.
  if (!core.CancelAndWait(lock, core.InFlight([&](const COverlapped& t) { return t.isoContext == isoContext; }))) {
    return Core::Fail(kErrorSemTimeout);
  }
  core.mIsoContexts.erase(isoContext);
  delete[] isoContext->IsoPackets;
  delete isoContext;
  return Core::Succeed();
}
