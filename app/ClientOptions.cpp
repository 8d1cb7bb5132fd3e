#include "ClientOptions.h"

#include "DdsOptions.h"

T_ClientOptions ParseClientOptions(const std::vector<std::string>& arguments) {
  T_ClientOptions options;
  for (const std::string& argument : arguments) {
    if (argument == "--simulate") {
      options.simulate = true;
    } else if (argument == "--quiet") {
      options.quiet = true;
    } else if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else {
      options.error = "unknown argument '" + argument + "'";
      break;
    }
  }
  return options;
}

std::string ClientUsage(const std::string& program) {
  return "Usage: " + program +
         " [--simulate] [--quiet]\n"
         "Shows the Skarv laser range sensor's latest rotation and every measurement, sends it its\n"
         "settings and records every sample to SkarvData-<n>.csv in the working directory.\n"
         "\n"
         "  --simulate  run against the built-in virtual sensor instead of a real one\n"
         "  --quiet     leave out the diagnostic lines printed on every update and every scan;\n"
         "              start-up, hot-plug, commands, errors and skipped records still show\n"
         "  --help      show this text\n" +
         skarvdds::DdsUsage() +
         "\n"
         "Without --simulate the client looks for the real sensor (USB 0xE785:0x64F2) and waits\n"
         "for it to be plugged in. Diagnostics go to standard output.\n";
}
