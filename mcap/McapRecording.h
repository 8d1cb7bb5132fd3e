#pragma once
// The sensor recorded as an MCAP file that ROS 2's tools open (profile
// "ros2", CDR messages with their .msg schemas): the channels the DDS
// publisher has topics for, with the same content and names (under
// "/NS/" with a namespace),
//   /scan             sensor_msgs/msg/LaserScan, one per whole rotation
//   /imu, /mag        sensor_msgs/msg/Imu, sensor_msgs/msg/MagneticField
//   /imu/temperature  sensor_msgs/msg/Temperature of the IMU
//   /temperature      sensor_msgs/msg/Temperature of the laser
//   /records          skarv_msgs/msg/RawRecordBatch: every record of each
//                     update as the words the sensor sent, losslessly
// Each message's log time is the host time its records were taken in
// (nanoseconds since 1970; never going back within the file), its publish
// time the stamp its message carries. A metadata record "skarv" names the
// sensor's serial number, the program's version and the scales used.
//
// Fed by the data path, on its thread: each update's records are turned
// into messages at once, so nothing waits in memory; a chunk is compressed
// and written once it is full. The first failure (a full disk, say) ends the
// recording, Error() says why, and the file is left cut back to its last
// complete chunk.

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "DdsOptions.h"
#include "McapWriter.h"
#include "MessageTimeline.h"
#include "RawRecord.h"
#include "RosMessages.h"

namespace skarvmcap {

class CMcapRecording {
 public:
  CMcapRecording(const skarvdds::T_DdsOptions& options, std::string version);
  ~CMcapRecording();  // Close()

  // Creates `path` exclusively (an existing file is never replaced) and
  // starts the file: 0, or the errno that stopped it, with Error() saying
  // why.
  int Open(const std::string& path);
  bool IsOpen() const { return mWriter != nullptr; }
  // One update's records, taken in at `now`, from the sensor `serial`.
  void Add(std::span<const kiv::T_RawRecord> records, std::chrono::system_clock::time_point now,
           const std::string& serial);
  // Finishes the file (its summary); false when it failed, now or before.
  bool Close();

  const std::string& Path() const { return mPath; }
  bool Failed() const { return !mError.empty(); }
  const std::string& Error() const { return mError; }  // "Recording to FILE stopped: why"
  uint64_t Records() const { return mRecords; }
  uint64_t Bytes() const { return mWriter ? mWriter->Bytes() : 0; }
  uint64_t Messages() const { return mWriter ? mWriter->Messages() : mMessages; }

 private:
  void WriteMessage(uint16_t channel, uint64_t logTime, uint64_t publishTime);
  void Stop(int error);

  const skarvdds::T_DdsOptions mOptions;
  const std::string mVersion;
  skarvdds::CMessageTimeline mTimeline;
  std::unique_ptr<CMcapWriter> mWriter;
  std::string mPath;
  std::string mError;
  std::string mSerial;
  uint16_t mChannels[6] = {};
  uint64_t mBatch = 0;
  uint64_t mRecords = 0;
  uint64_t mMessages = 0;  // of a file closed
  uint64_t mLastLogTime[6] = {};  // of each channel: never going back
  std::chrono::system_clock::time_point mLastImuStamp, mLastScanStamp;
  // Kept from update to update, so that turning records into messages
  // allocates nothing once they have grown.
  std::vector<uint8_t> mBytes;
  std::vector<uint16_t> mWords;
  skarvdds::T_LaserScan mScan;
};

}  // namespace skarvmcap
