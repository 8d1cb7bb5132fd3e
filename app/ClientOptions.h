#pragma once
// The command line of skarv-client.

#include <string>
#include <vector>

struct T_ClientOptions {
  bool simulate = false;  // run against the built-in virtual sensor
  bool quiet = false;     // leave out the diagnostic lines of every update and scan
  std::string replay;     // play this recording back as the sensor (empty: none)
  bool loop = false;      // start the recording again at its end
  bool help = false;
  std::string error;      // set when the command line cannot be used
};

T_ClientOptions ParseClientOptions(const std::vector<std::string>& arguments);

// What --help prints, and what a refused command line prints after its error.
std::string ClientUsage(const std::string& program);
