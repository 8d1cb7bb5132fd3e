#include "RecordingPlayback.h"

#include <filesystem>

#include "CsvReader.h"
#include "RecordingLoop.h"

namespace playback {

std::shared_ptr<CPlaybackSensor> MakePlaybackSensor(const T_ReplayOptions& options, std::string& why,
                                                    int interruptFd,
                                                    std::shared_ptr<recording::CPrefetchingSource>* reading) {
  auto reader = std::make_unique<recording::CCsvReader>(options.file);
  if (!reader->Open(interruptFd)) {
    why = reader->Error();
    return nullptr;
  }
  std::shared_ptr<recording::CRecordSource> source;
  if (options.loop) {
    source = std::make_shared<recording::CRecordingLoop>(std::move(reader));
  } else {
    source = std::move(reader);
  }
  return MakePlaybackSensor(options, std::move(source), reading);
}

std::shared_ptr<CPlaybackSensor> MakePlaybackSensor(const T_ReplayOptions& options,
                                                    std::shared_ptr<recording::CRecordSource> opened,
                                                    std::shared_ptr<recording::CPrefetchingSource>* reading) {
  // The file is read and parsed ahead on a thread of its own, beside the data path.
  auto ahead = std::make_shared<recording::CPrefetchingSource>(std::move(opened));
  if (reading) {
    *reading = ahead;
  }
  return std::make_shared<CPlaybackSensor>(std::move(ahead), options.speed);
}

std::shared_ptr<recording::CReplaySteering> SteerPlayback(CPlaybackSensor& sensor, const T_ReplayOptions& options,
                                                          recording::CRecordingIndex::Opener open) {
  std::error_code failed;
  std::shared_ptr<recording::CRecordingIndex> index;
  if (std::filesystem::is_regular_file(options.file, failed)) {
    index = std::make_shared<recording::CRecordingIndex>(std::move(open));
  }
  auto steering = std::make_shared<recording::CReplaySteering>(std::move(index), options.speed);
  sensor.SetSteering(steering);
  return steering;
}

recording::CRecordingIndex::Opener CsvIndexReader(const std::string& file) {
  return [file](std::string& why) -> std::unique_ptr<recording::CRecordSource> {
    auto reader = std::make_unique<recording::CCsvReader>(file);
    if (!reader->Open()) {
      why = reader->Error();
      return nullptr;
    }
    return reader;
  };
}

}  // namespace playback
