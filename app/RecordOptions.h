#pragma once
// The command line of skarv-record.

#include <string>
#include <vector>

struct T_RecordOptions {
  bool simulate = false;     // record the built-in virtual sensor
  std::string replay;        // play this recording back as the sensor
  double speed = 1.0;        // replay pace: a multiple of the recorded one; 0 as fast as it is taken
  bool loop = false;         // replay the file again and again
  double duration = 0.0;     // seconds of recording; 0: until stopped
  std::string outputDir;     // where the recordings go; empty: the working directory
  double wait = -1.0;        // seconds to wait for a sensor; below 0: for ever
  bool quiet = false;        // leave out the diagnostic lines of every update and scan
  bool help = false;
  std::string error;         // set when the command line cannot be used
};

T_RecordOptions ParseRecordOptions(const std::vector<std::string>& arguments);

// What --help prints, and what a refused command line prints after its error.
std::string RecordUsage(const std::string& program);
