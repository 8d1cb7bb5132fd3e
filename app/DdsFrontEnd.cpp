#include "DdsFrontEnd.h"

#include "DataPath.h"
#include "DdsPublisher.h"

CDdsFrontEnd::CDdsFrontEnd(const skarvdds::T_DdsOptions& options) : mOptions(options) {}
CDdsFrontEnd::~CDdsFrontEnd() = default;

void CDdsFrontEnd::Start(bool sourceWaits) {
  if (mOptions.publish && !mPublisher) {
    mPublisher = std::make_unique<skarvdds::CDdsPublisher>(mOptions);
    mPublisher->SetSourceWaits(sourceWaits);
    mPublisher->WaitForRecordReader(std::chrono::milliseconds(kDiscoveryMs));
  }
}

void CDdsFrontEnd::Finish(const std::function<bool()>& giveUp) {
  if (mPublisher) {
    mPublisher->Close(giveUp);
  }
}

void CDdsFrontEnd::Attach(CDataPath& path) {
  if (mPublisher) {
    mPublisher->Attach(path);
  }
}
