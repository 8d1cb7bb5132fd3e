#include "RecordOptions.h"

namespace {

// In the order the usage lists them.
std::vector<T_CommandOption> RecordOptionTable(T_RecordOptions& options) {
  std::vector<T_CommandOption> table = {
      SimulateOption(options, "record the built-in virtual sensor instead of a real one"),
      ReplayOption(options, "play a recording back as the sensor"),
      NumberOption("--speed", options.speed, 0.0, EBound::eAtLeast, "a factor of 0 or more", "FACTOR",
                   "replay at FACTOR times the recorded pace (default 1);\n"
                   "0 plays it as fast as the data path takes the records")
          .Needing("--replay"),
      LoopOption(options, "start the replay again at the end of the file"),
      SensorsOption(options),
      SerialOption(options),
      UsbPathOption(options),
      ListOption(options),
      NumberOption("--duration", options.duration, 0.0, EBound::eAbove, "a number of seconds above 0", "SECONDS",
                   "stop in order once the recording has run that long\n"
                   "(default: until Ctrl-C, SIGTERM or SIGHUP)"),
      TextOption("--output-dir", options.outputDir, "a folder", "DIR",
                 "write the recordings into DIR (default: the working directory)"),
      FormatOption(options, true,
                   "write the recording as SkarvData-<n>.csv (csv, the default), as\n"
                   "SkarvData-<n>.mcap for ROS 2's tools (mcap), or both of the same records")
  };
  const std::vector<T_CommandOption> split = SplitOptions(options);
  table.insert(table.end(), split.begin(), split.end());
  table.insert(table.end(), {
      NumberOption("--wait", options.wait, 0.0, EBound::eAtLeast, "a number of seconds", "SECONDS",
                   "fail when no sensor is found within that long (default: wait)"),
      QuietOption(options, "leave out the diagnostic lines printed on every update and every scan"),
      TextOption("--config", options.config, "a file", "FILE",
                 "read options from FILE, one a line without its \"--\" (a recorder\n"
                 "service's /etc/skarv/INSTANCE.conf); later options win"),
      VersionOption(options),
      HelpOption(options, "show this text"),
  });
  return table;
}

}  // namespace

const T_ProgramCommandLine<T_RecordOptions> kRecordCommandLine{
    RecordOptionTable, 22,
    " [--simulate [--sensors N] | --replay FILE [--speed FACTOR] [--loop]]\n"
    "       [--serial SERIAL | --usb-path BUS-PORT] [--duration SECONDS] [--output-dir DIR]\n"
    "       [--format csv|mcap|csv,mcap] [--split-duration SECONDS] [--split-size MB]\n"
    "       [--max-files N] [--wait SECONDS] [--quiet] [--list] [--config FILE]\n"
    "Records every sample of the Skarv laser range sensor to SkarvData-<n>.csv (or .mcap), without\n"
    "windows: recording starts as soon as the sensor streams.\n"
    "\n",
    "\n"
    "On a terminal a progress line on standard error shows the sensor, records, records per\n"
    "second, gaps and the file; a summary follows at the end. Exit status: 0 recorded as asked,\n"
    "1 the recording failed (the reason is on standard error), 2 a usage error.\n"};
