#include "ClientOptions.h"

T_ClientOptions ParseClientOptions(const std::vector<std::string>& arguments) {
  T_ClientOptions options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--replay") {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        options.error = "--replay needs the recording's file name";
        break;
      }
      options.replay = arguments[++i];
    } else if (argument == "--loop") {
      options.loop = true;
    } else if (argument == "--simulate") {
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
  if (options.error.empty() && options.simulate && !options.replay.empty()) {
    options.error = "--simulate and --replay cannot be used together";
  } else if (options.error.empty() && options.loop && options.replay.empty()) {
    options.error = "--loop needs --replay";
  }
  return options;
}

std::string ClientUsage(const std::string& program) {
  return "Usage: " + program +
         " [--simulate | --replay FILE [--loop]] [--quiet]\n"
         "Shows the Skarv laser range sensor's latest rotation and every measurement, sends it its\n"
         "settings and records every sample to SkarvData-<n>.csv in the working directory.\n"
         "\n"
         "  --simulate  run against the built-in virtual sensor instead of a real one\n"
         "  --replay FILE\n"
         "              play the recording FILE (a SkarvData-<n>.csv) back as the sensor, at its\n"
         "              recorded pace; at its end the sensor is unplugged\n"
         "  --loop      with --replay: start the recording again at its end\n"
         "  --quiet     leave out the diagnostic lines printed on every update and every scan;\n"
         "              start-up, hot-plug, commands, errors and skipped records still show\n"
         "  --help      show this text\n"
         "\n"
         "Without --simulate or --replay the client looks for the real sensor (USB 0xE785:0x64F2)\n"
         "and waits for it to be plugged in. Diagnostics go to standard output.\n";
}
