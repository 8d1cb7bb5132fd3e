#include "RecordOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "DdsOptions.h"

namespace {

// A whole or decimal number of at least `minimum` (above it when `above`),
// finite, and nothing else in the text.
bool ParseNumber(const std::string& text, double minimum, bool above, double& value) {
  if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string::npos) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < minimum || (above && parsed == minimum)) {
    return false;
  }
  value = parsed;
  return true;
}

}  // namespace

T_RecordOptions ParseRecordOptions(const std::vector<std::string>& arguments) {
  T_RecordOptions options;
  bool speedGiven = false;
  for (size_t i = 0; i < arguments.size() && options.error.empty(); ++i) {
    std::string name = arguments[i];
    std::string value;
    bool hasValue = false;
    // "--name=value" as well as "--name value".
    if (const size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      hasValue = true;
    }
    const auto takeValue = [&]() -> bool {
      if (!hasValue) {
        if (i + 1 >= arguments.size()) {
          options.error = "option '" + name + "' needs a value";
          return false;
        }
        value = arguments[++i];
      }
      return true;
    };
    const auto takeNumber = [&](double minimum, bool above, double& target, const char* what) {
      if (takeValue() && !ParseNumber(value, minimum, above, target)) {
        options.error = "option '" + name + "' needs " + what + ", not '" + value + "'";
      }
    };
    const bool flag = name == "--simulate" || name == "--loop" || name == "--quiet" || name == "--help" || name == "-h";
    if (flag && hasValue) {
      options.error = "option '" + name + "' takes no value";
    } else if (name == "--simulate") {
      options.simulate = true;
    } else if (name == "--loop") {
      options.loop = true;
    } else if (name == "--quiet") {
      options.quiet = true;
    } else if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--replay") {
      if (takeValue()) {
        options.replay = value;
        if (value.empty()) options.error = "option '--replay' needs a file name";
      }
    } else if (name == "--output-dir") {
      if (takeValue()) {
        options.outputDir = value;
        if (value.empty()) options.error = "option '--output-dir' needs a folder";
      }
    } else if (name == "--speed") {
      speedGiven = true;
      takeNumber(0.0, false, options.speed, "a factor of 0 or more");
    } else if (name == "--duration") {
      takeNumber(0.0, true, options.duration, "a number of seconds above 0");
    } else if (name == "--wait") {
      takeNumber(0.0, false, options.wait, "a number of seconds");
    } else {
      options.error = "unknown argument '" + arguments[i] + "'";
    }
  }
  if (!options.error.empty()) {
    return options;
  }
  if (options.simulate && !options.replay.empty()) {
    options.error = "--simulate and --replay cannot be used together";
  } else if ((speedGiven || options.loop) && options.replay.empty()) {
    options.error = std::string(speedGiven ? "--speed" : "--loop") + " needs --replay";
  }
  return options;
}

std::string RecordUsage(const std::string& program) {
  return "Usage: " + program +
         " [--simulate | --replay FILE [--speed FACTOR] [--loop]] [--duration SECONDS]\n"
         "       [--output-dir DIR] [--wait SECONDS] [--quiet]\n"
         "Records every sample of the Skarv laser range sensor to SkarvData-<n>.csv, without windows:\n"
         "recording starts as soon as the sensor streams.\n"
         "\n"
         "  --simulate          record the built-in virtual sensor instead of a real one\n"
         "  --replay FILE       play a recording back as the sensor\n"
         "  --speed FACTOR      replay at FACTOR times the recorded pace (default 1);\n"
         "                      0 plays it as fast as the data path takes the records\n"
         "  --loop              start the replay again at the end of the file\n"
         "  --duration SECONDS  stop in order once the recording has run that long\n"
         "                      (default: until Ctrl-C, SIGTERM or SIGHUP)\n"
         "  --output-dir DIR    write the recordings into DIR (default: the working directory)\n"
         "  --wait SECONDS      fail when no sensor is found within that long (default: wait)\n"
         "  --quiet             leave out the diagnostic lines printed on every update and every scan\n"
         "  --help              show this text\n" +
         skarvdds::DdsUsage() +
         "\n"
         "On a terminal a progress line on standard error shows the sensor, records, records per\n"
         "second, gaps and the file; a summary follows at the end. Exit status: 0 recorded as asked,\n"
         "1 the recording failed (the reason is on standard error), 2 a usage error.\n";
}
