#pragma once
// How the recorder's loop lets the data path run and tells the time.
//
// On the wall clock the data path's own 10 ms worker collects the records
// and the loop only waits, a tenth of a second at a time or until a stop is
// requested. On a stepped clock the loop itself lets the sensor's bus pass a
// few frames and steps the data path: no thread and no waiting, so a bus on
// a manual clock runs as fast as the data path takes its records, and its
// time (not the wall's) is what durations and rates are measured in.

#include <cstdint>
#include <functional>

class CDataPath;
class CStopRequest;

class IRecorderClock {
 public:
  virtual ~IRecorderClock() = default;
  // Starts the data path running.
  virtual void Start() = 0;
  // Lets the data path run for a while: one step, or a short wait.
  virtual void Run() = 0;
  // Seconds since Start.
  virtual double Seconds() const = 0;
  // Stops the data path; no record is collected after it returns.
  virtual void Stop() = 0;
};

class CWallClock final : public IRecorderClock {
 public:
  static constexpr int kWaitMs = 100;

  CWallClock(CDataPath& dataPath, CStopRequest& stop);
  void Start() override;
  void Run() override;
  double Seconds() const override;
  void Stop() override;

 private:
  CDataPath& mDataPath;
  CStopRequest& mStop;
  int64_t mStartNs = 0;
};

class CSteppedClock final : public IRecorderClock {
 public:
  // What its seconds count: the bus's frames, or the sensor's own time in
  // the records the data path took (their DeltTime summed), which is what a
  // recording played as fast as it is taken lasted where it was made.
  enum class ETime { eBus, eRecords };

  // `advanceBus(frames)` lets that many 1 ms frames pass on the sensor's bus;
  // each Run advances `framesPerStep` frames and then steps the data path.
  // With eRecords it subscribes to the data path's records (before it runs).
  CSteppedClock(CDataPath& dataPath, std::function<void(uint32_t frames)> advanceBus, uint32_t framesPerStep = 10,
                ETime time = ETime::eBus);
  void Start() override {}
  void Run() override;
  double Seconds() const override;
  void Stop() override {}

 private:
  CDataPath& mDataPath;
  const std::function<void(uint32_t)> mAdvanceBus;
  const uint32_t mFramesPerStep;
  const ETime mTime;
  uint64_t mFrames = 0;
  uint64_t mRecordUnits = 0;  // 10 us units, summed over the records taken
};
