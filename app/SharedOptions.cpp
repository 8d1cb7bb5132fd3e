#include "SharedOptions.h"

#include "Version.h"

#include "Diagnostics.h"

T_CommandOption SimulateOption(T_SharedOptions& options, std::string description) {
  return FlagOption("--simulate", options.simulate, std::move(description));
}

T_CommandOption ReplayOption(T_SharedOptions& options, std::string description) {
  return TextOption("--replay", options.replay, "a file name", "FILE", std::move(description));
}

T_CommandOption LoopOption(T_SharedOptions& options, std::string description) {
  return FlagOption("--loop", options.loop, std::move(description)).Needing("--replay");
}

T_CommandOption SensorsOption(T_SharedOptions& options) {
  return CountOption("--sensors", options.sensors, 1, 8, "a whole number from 1 to 8", "N",
                     "with --simulate: N virtual sensors, serial numbers SKV00001 to\n"
                     "SKV0000N (default 1)")
      .Needing("--simulate");
}

T_CommandOption SerialOption(T_SharedOptions& options) {
  return TextOption("--serial", options.sensor.serial, "a serial number", "SERIAL",
                    "open only the sensor with this serial number, now or when it\n"
                    "arrives; with --subscribe, follow only that sensor's publisher");
}

T_CommandOption UsbPathOption(T_SharedOptions& options) {
  return TextOption("--usb-path", options.sensor.usbPath, "a USB path such as 1-2 or 3-1.4", "BUS-PORT",
                    "open only the sensor plugged in at this place on the bus");
}

T_CommandOption ListOption(T_SharedOptions& options) {
  return FlagOption("--list", options.list,
                    "list the attached sensors (with --simulate, the virtual ones):\n"
                    "serial number, USB path, product, maker, and whether this user\n"
                    "can open it; then end");
}

T_CommandOption QuietOption(T_SharedOptions& options, std::string description) {
  return FlagOption("--quiet", options.quiet, std::move(description));
}

T_CommandOption FormatOption(T_SharedOptions& options, bool mcapAlone, std::string description) {
  return {"--format", EOptionValue::eRequired,
          [&options, mcapAlone](const std::string& value) {
            const bool both = value == "csv,mcap" || value == "mcap,csv";
            if (!both && value != "csv" && (value != "mcap" || !mcapAlone)) {
              return std::string(mcapAlone ? "csv, mcap or csv,mcap" : "csv or csv,mcap");
            }
            options.csv = value != "mcap";
            options.mcap = value != "csv";
            return std::string();
          },
          mcapAlone ? "csv|mcap|csv,mcap" : "csv|csv,mcap", std::move(description)};
}

std::vector<T_CommandOption> SplitOptions(T_SharedOptions& options) {
  return {
      NumberOption("--split-duration", options.splitSeconds, 0.0, EBound::eAbove, "a number of seconds above 0",
                   "SECONDS",
                   "go on in the next numbered file once a file holds SECONDS of the\n"
                   "sensor's time; no record is lost or written twice"),
      NumberOption("--split-size", options.splitMegabytes, 0.0, EBound::eAbove, "a number of megabytes above 0",
                   "MB", "go on in the next numbered file once a file holds MB megabytes"),
      CountOption("--max-files", options.maxFiles, 1, 1000000, "a whole number from 1 to 1000000", "N",
                  "keep only the last N files of this run, removing older ones as\n"
                  "new ones open (a rolling log)"),
  };
}

T_RecordingSplit T_SharedOptions::Split() const {
  T_RecordingSplit split;
  split.maxBytes = static_cast<uint64_t>(splitMegabytes * 1e6);
  split.maxUnits = static_cast<uint64_t>(splitSeconds * 1e5);  // 10 us units
  split.maxFiles = maxFiles;
  return split;
}

T_CommandOption VersionOption(T_SharedOptions& options) {
  return FlagOption("--version", options.version, "print the program's version and end");
}

T_CommandOption HelpOption(T_SharedOptions& options, std::string description) {
  T_CommandOption help = FlagOption("--help", options.help, std::move(description));
  help.alias = "-h";
  return help;
}

void ParseSharedCommandLine(const std::vector<std::string>& arguments, std::vector<T_CommandOption> table,
                            T_SharedOptions& options) {
  for (T_CommandOption& option : skarvdds::DdsOptionTable(options.dds)) {
    table.push_back(std::move(option));
  }
  options.error = ParseCommandLine(arguments, table);
  if (!options.error.empty()) {
    return;
  }
  if (options.simulate && !options.replay.empty()) {
    options.error = "--simulate and --replay cannot be used together";
  } else if (options.dds.subscribe && (options.simulate || !options.replay.empty())) {
    options.error = "--subscribe takes the place of --simulate and --replay";
  } else if (!options.replay.empty() && (options.list || !options.sensor.Any())) {
    options.error = "--list, --serial and --usb-path choose among attached sensors, not a recording";
  } else if (options.dds.subscribe && (options.list || !options.sensor.usbPath.empty())) {
    options.error = "--list and --usb-path choose among attached sensors; with --subscribe, choose by --serial";
  }
}

std::optional<int> UsageExit(const std::string& program, const T_SharedOptions& options, const std::string& usage) {
  if (!options.error.empty()) {
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, program + ": " + options.error + "\n" + usage);
    return 2;
  }
  if (options.help) {
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut, usage);
    return 0;
  }
  if (options.version) {
    const size_t slash = program.rfind('/');
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut,
              program.substr(slash == std::string::npos ? 0 : slash + 1) + " " + SkarvVersion() + "\n");
    return 0;
  }
  return std::nullopt;
}
