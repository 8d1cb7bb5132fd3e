#pragma once
// The command line of skarv-client: the options both programs share, and
// the client's own.

#include "SharedOptions.h"

struct T_ClientOptions : T_SharedOptions {
  bool trends = false;  // open the trends window at start
};

// Parse(arguments) gives the options; Usage(program) what --help prints, and
// what a refused command line prints after its error.
extern const T_ProgramCommandLine<T_ClientOptions> kClientCommandLine;
