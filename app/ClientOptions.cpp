#include "ClientOptions.h"

namespace {

// In the order the usage lists them.
std::vector<T_CommandOption> ClientOptionTable(T_ClientOptions& options) {
  std::vector<T_CommandOption> table = {
      SimulateOption(options, "run against the built-in virtual sensor instead of a real one"),
      ReplayOption(options,
                   "play the recording FILE (a SkarvData-<n>.csv or .mcap) back as the sensor,\n"
                   "at its recorded pace; at its end the sensor is unplugged"),
      LoopOption(options, "with --replay: start the recording again at its end"),
      SensorsOption(options),
      SerialOption(options),
      UsbPathOption(options),
      ListOption(options),
      FormatOption(options, false,
                   "record to SkarvData-<n>.csv (csv, the default), or to that and to\n"
                   "SkarvData-<n>.mcap beside it, of the same records (csv,mcap)")
  };
  const std::vector<T_CommandOption> split = SplitOptions(options);
  table.insert(table.end(), split.begin(), split.end());
  table.insert(table.end(), {
      FlagOption("--trends", options.trends,
                 "open the trends window at start: strip charts of the last minute of\n"
                 "every reading (the control panel's Trends button opens it too)"),
      QuietOption(options,
                  "leave out the diagnostic lines printed on every update and every scan;\n"
                  "start-up, hot-plug, commands, errors and skipped records still show"),
      VersionOption(options),
      HelpOption(options, "show this text"),
  });
  return table;
}

}  // namespace

const T_ProgramCommandLine<T_ClientOptions> kClientCommandLine{
    ClientOptionTable, 14,
    " [--simulate [--sensors N] | --replay FILE [--loop]]\n"
    "       [--serial SERIAL | --usb-path BUS-PORT] [--format csv|csv,mcap]\n"
    "       [--split-duration SECONDS] [--split-size MB] [--max-files N] [--trends] [--quiet]\n"
    "       [--list]\n"
    "Shows the Skarv laser range sensor's latest rotation and every measurement, sends it its\n"
    "settings and records every sample to SkarvData-<n>.csv in the working directory.\n"
    "\n",
    "\n"
    "Without --simulate or --replay the client looks for the real sensor (USB 0xE785:0x64F2)\n"
    "and waits for it to be plugged in. Diagnostics go to standard output.\n"};
