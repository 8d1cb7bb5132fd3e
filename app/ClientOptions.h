#pragma once
// The command line of skarv-client: the options both programs share, and
// nothing of its own.

#include "SharedOptions.h"

using T_ClientOptions = T_SharedOptions;

// Parse(arguments) gives the options; Usage(program) what --help prints, and
// what a refused command line prints after its error.
extern const T_ProgramCommandLine<T_ClientOptions> kClientCommandLine;
