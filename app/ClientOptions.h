#pragma once
// The command line of skarv-client: the options both programs share, and
// nothing of its own.

#include <string>
#include <vector>

#include "SharedOptions.h"

using T_ClientOptions = T_SharedOptions;

T_ClientOptions ParseClientOptions(const std::vector<std::string>& arguments);

// What --help prints, and what a refused command line prints after its error.
std::string ClientUsage(const std::string& program);
