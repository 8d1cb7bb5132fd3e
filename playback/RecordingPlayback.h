#pragma once
// A SkarvData recording as a sensor: a playback sensor reading the file,
// parsed ahead on a thread of its own (and, looped, started again at its
// end with its counts following on).

#include <memory>
#include <string>

#include "PlaybackSensor.h"
#include "PrefetchingSource.h"
#include "RecordingIndex.h"
#include "ReplaySteering.h"

namespace playback {

struct T_ReplayOptions {
  std::string file;
  double speed = 1.0;  // 1 the recorded pace, 0 as fast as the data path takes the records
  bool loop = false;   // start again at the end of the file
  bool steer = false;  // steered by the replay's controls (the client's window)
};

// A playback sensor reading `options.file` from its start at its speed;
// nullptr with `why` ("FILE: why") when the file cannot be read or is not a
// recording. The wait for the file's first line (a pipe whose writer has not
// come yet) ends when `interruptFd` (when not -1) becomes readable.
// `reading`, when given, is set to the thread that reads the file ahead.
std::shared_ptr<CPlaybackSensor> MakePlaybackSensor(const T_ReplayOptions& options, std::string& why,
                                                    int interruptFd = -1,
                                                    std::shared_ptr<recording::CPrefetchingSource>* reading = nullptr);

// The same for a source the caller has opened (a recording in another
// format): played once at `options.speed`, never looped.
std::shared_ptr<CPlaybackSensor> MakePlaybackSensor(const T_ReplayOptions& options,
                                                    std::shared_ptr<recording::CRecordSource> opened,
                                                    std::shared_ptr<recording::CPrefetchingSource>* reading = nullptr);

// Steering for `sensor`, a replay of `options.file`, before it is plugged
// in: a regular file is indexed on a thread of its own by the second reader
// `open` makes, so that it can be seeked in; a pipe is steered without seeks.
std::shared_ptr<recording::CReplaySteering> SteerPlayback(CPlaybackSensor& sensor, const T_ReplayOptions& options,
                                                          recording::CRecordingIndex::Opener open);
// That second reader for a CSV recording.
recording::CRecordingIndex::Opener CsvIndexReader(const std::string& file);

}  // namespace playback
