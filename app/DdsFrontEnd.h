#pragma once
// The DDS front end as a program starts it: with its options from the
// command line, and the publisher made when --publish asks for one.

#include <functional>
#include <memory>

#include "DdsOptions.h"

class CDataPath;
namespace skarvdds {
class CDdsPublisher;
}

class CDdsFrontEnd {
 public:
  explicit CDdsFrontEnd(const skarvdds::T_DdsOptions& options);
  ~CDdsFrontEnd();
  CDdsFrontEnd(const CDdsFrontEnd&) = delete;
  CDdsFrontEnd& operator=(const CDdsFrontEnd&) = delete;

  const skarvdds::T_DdsOptions& Options() const { return mOptions; }

  // Starts publishing when asked to; DDS that cannot start is reported and
  // the program runs on without it. A subscriber already listening gets the
  // records from the very first: discovery has up to kDiscoveryMs to find
  // one before Start returns (and the data path starts).
  // `sourceWaits`: the data path's source can wait for a publisher that is
  // behind (a recording played back), so nothing is dropped for want of room.
  static constexpr int kDiscoveryMs = 500;
  void Start(bool sourceWaits = false);
  // Subscribes the publisher to the data path, before the path starts. The
  // front end must outlive the data path's thread.
  void Attach(CDataPath& path);
  // Once the data path has stopped: the publisher delivers what it still
  // holds while its readers take it, or until `giveUp` says true, and says
  // what it could not deliver. (The destructor does the same, without a
  // way to give up early.)
  void Finish(const std::function<bool()>& giveUp);

 private:
  const skarvdds::T_DdsOptions mOptions;
  std::unique_ptr<skarvdds::CDdsPublisher> mPublisher;
};
