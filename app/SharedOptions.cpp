#include "SharedOptions.h"

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

T_CommandOption QuietOption(T_SharedOptions& options, std::string description) {
  return FlagOption("--quiet", options.quiet, std::move(description));
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
  return std::nullopt;
}
