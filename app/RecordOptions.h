#pragma once
// The command line of skarv-record: the options both programs share, and
// the recorder's own.

#include "SharedOptions.h"

struct T_RecordOptions : T_SharedOptions {
  double speed = 1.0;        // replay pace: a multiple of the recorded one; 0 as fast as it is taken
  double duration = 0.0;     // seconds of recording; 0: until stopped
  std::string outputDir;     // where the recordings go; empty: the working directory
  double wait = -1.0;        // seconds to wait for a sensor; below 0: for ever
  std::string config;        // a file of options, read in before the parse (ConfigFile.h)
};

// Parse(arguments) gives the options; Usage(program) what --help prints, and
// what a refused command line prints after its error.
extern const T_ProgramCommandLine<T_RecordOptions> kRecordCommandLine;
