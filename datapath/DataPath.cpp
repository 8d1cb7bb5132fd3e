#include "DataPath.h"

#include <algorithm>
#include <utility>

#include "Diagnostics.h"

CDataPath::CDataPath(CSkarvIO& io) : mIO(io), mWorker(kTickMs, [this] { Step(); }, "View Thread Done....\n", "data path") {}

CDataPath::~CDataPath() { Stop(); }

void CDataPath::SubscribeScans(ScanSubscriber subscriber) { mScanSubscribers.push_back(std::move(subscriber)); }

void CDataPath::SubscribeRecords(RecordSubscriber subscriber) { mRecordSubscribers.push_back(std::move(subscriber)); }

void CDataPath::Start() { mWorker.Start(); }

void CDataPath::Stop() { mWorker.Stop(); }

void CDataPath::Step() {
  // One update takes what the data pipe's storage holds; transfers it had no
  // room for wait in the ring, and the next update takes them at once, so a
  // late step (a busy machine, a long step of a manual clock) loses nothing.
  // Each of those updates takes at least one transfer, so the ring's size
  // bounds the updates of one step.
  for (int update = 0; update < CUSBKivDataPipe::kOverlappingTransfers; ++update) {
    Update();
    if (mIO.mUpdateRecords == 0 || !mIO.mDataPipe.StoppedForRoom()) {
      return;
    }
  }
}

void CDataPath::Update() {
  const int points = mIO.UpdateContiniousData();
  if (!mUpdated->load(std::memory_order_relaxed)) {
    mUpdated->store(true, std::memory_order_release);
  }
  // The records and the completed scan change only inside
  // UpdateContiniousData, on this thread: they are read here, right after it.
  if (mIO.mUpdateRecords > 0 && !mRecordSubscribers.empty()) {
    const std::span<const kiv::T_RawRecord> records(mIO.mDataPipe.mRawRecords.get(),
                                                    static_cast<size_t>(mIO.mUpdateRecords));
    for (const RecordSubscriber& subscriber : mRecordSubscribers) {
      subscriber(records);
    }
  }
  if (points <= 2) {
    return;
  }
  const int n = mIO.mFoundScanSize;
  DiagPrintf(EDiagLevel::ePerUpdate, "+++++++++++++++ SkarvIO dataLength = %d\n", n);
  const int m = std::clamp(n, 0, static_cast<int>(CSkarvIO::kScanBufferSize));
  auto scan = std::make_shared<T_Scan>();
  scan->distances.assign(mIO.mLastScanDist, mIO.mLastScanDist + m);
  scan->widths.assign(mIO.mLastScanWidth, mIO.mLastScanWidth + m);
  const std::shared_ptr<const T_Scan> shared = std::move(scan);
  for (const ScanSubscriber& subscriber : mScanSubscribers) {
    subscriber(shared);
  }
}
