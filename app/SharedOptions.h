#pragma once
// The command line both programs share: where the sensor comes from
// (--simulate with --sensors N, --replay FILE with --loop), which of several
// sensors (--serial, --usb-path, and --list to see them), --quiet, --help,
// and the DDS front end's options. Each shared option is declared once, here (the DDS ones in
// dds/); a program lists them in its own table with its own words for the
// usage text.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "DdsOptions.h"
#include "RecordingSplit.h"
#include "SensorChoice.h"

struct T_SharedOptions {
  bool simulate = false;  // run against the built-in virtual sensor
  std::string replay;     // play this recording back as the sensor (empty: none)
  bool loop = false;      // start the recording again at its end
  unsigned sensors = 1;   // virtual sensors on the bus, with --simulate
  T_SensorChoice sensor;  // which sensor to open (--serial, --usb-path)
  bool list = false;      // list the attached sensors and end
  bool quiet = false;     // leave out the diagnostic lines of every update and scan
  // What a recording is written as: CSV (the default), MCAP, or both.
  bool csv = true;
  bool mcap = false;
  // Splitting it into numbered files, and how many a run keeps; 0: no limit.
  double splitSeconds = 0.0;
  double splitMegabytes = 0.0;
  unsigned maxFiles = 0;
  T_RecordingSplit Split() const;
  bool help = false;
  bool version = false;
  skarvdds::T_DdsOptions dds;
  std::string error;      // set when the command line cannot be used
};

// The shared options, each with the program's own description of it.
T_CommandOption SimulateOption(T_SharedOptions& options, std::string description);
T_CommandOption ReplayOption(T_SharedOptions& options, std::string description);
T_CommandOption LoopOption(T_SharedOptions& options, std::string description);
// The choice among several sensors: --sensors, --serial, --usb-path, --list.
T_CommandOption SensorsOption(T_SharedOptions& options);
T_CommandOption SerialOption(T_SharedOptions& options);
T_CommandOption UsbPathOption(T_SharedOptions& options);
T_CommandOption ListOption(T_SharedOptions& options);
T_CommandOption QuietOption(T_SharedOptions& options, std::string description);
// --format csv|csv,mcap, and mcap alone where `mcapAlone`.
T_CommandOption FormatOption(T_SharedOptions& options, bool mcapAlone, std::string description);
// --split-duration, --split-size and --max-files.
std::vector<T_CommandOption> SplitOptions(T_SharedOptions& options);
T_CommandOption HelpOption(T_SharedOptions& options, std::string description);
T_CommandOption VersionOption(T_SharedOptions& options);

// Parses `arguments` against the program's `table` followed by the DDS
// options, then checks the sources asked for against each other; what cannot
// be used is left in options.error.
void ParseSharedCommandLine(const std::vector<std::string>& arguments, std::vector<T_CommandOption> table,
                            T_SharedOptions& options);

// One program's command line: its table of options (the DDS front end's
// follow it) and its usage text around the table's lines.
template <typename TOptions>
struct T_ProgramCommandLine {
  std::vector<T_CommandOption> (*table)(TOptions& options);
  size_t column;     // where the descriptions start
  const char* head;  // after "Usage: <program>", down to the options
  const char* tail;  // after the DDS options

  TOptions Parse(const std::vector<std::string>& arguments) const {
    TOptions options;
    ParseSharedCommandLine(arguments, table(options), options);
    return options;
  }
  // The arguments after the program's name.
  TOptions Parse(int argc, char** argv) const {
    return Parse(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  }
  std::string Usage(const std::string& program) const {
    TOptions unused;
    return "Usage: " + program + head + CommandUsage(table(unused), column) + skarvdds::DdsUsage() + tail;
  }
};

// The end of a program whose command line is refused (the error and the
// usage on standard error, status 2) or asks for help (the usage on standard
// output, status 0); nothing when it runs on.
std::optional<int> UsageExit(const std::string& program, const T_SharedOptions& options, const std::string& usage);
