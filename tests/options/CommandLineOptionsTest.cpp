// The one command-line grammar, through both programs' parsers: the options
// they share read the same in each, in both spellings, and every usage
// error reads the same and ends either program with status 2.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ClientOptions.h"
#include "ClientProcess.h"
#include "RecordOptions.h"

namespace {

using TArguments = std::vector<std::string>;

struct T_Program {
  const char* name;
  std::function<T_SharedOptions(const TArguments&)> parse;
};

const T_Program kPrograms[] = {
    {"skarv-client", [](const TArguments& arguments) { return kClientCommandLine.Parse(arguments); }},
    {"skarv-record",
     [](const TArguments& arguments) -> T_SharedOptions { return kRecordCommandLine.Parse(arguments); }},
};

// The same command line in the two spellings: every value after its option,
// then every value joined to it by '='.
std::pair<TArguments, TArguments> BothSpellings(const std::vector<std::pair<std::string, std::string>>& options) {
  TArguments apart;
  TArguments joined;
  for (const auto& [name, value] : options) {
    apart.push_back(name);
    if (!value.empty()) apart.push_back(value);
    joined.push_back(value.empty() ? name : name + "=" + value);
  }
  return {apart, joined};
}

TEST(CommandLineOptions, BothProgramsTakeTheSharedOptionsInBothSpellings) {
  const auto [apart, joined] = BothSpellings({{"--replay", "r.csv"},
                                              {"--loop", ""},
                                              {"--quiet", ""},
                                              {"--publish", ""},
                                              {"--namespace", "/robot1/"},
                                              {"--frame-id", "laser"},
                                              {"--qos", "sensor-data"},
                                              {"--parent-frame", "base_footprint"},
                                              {"--mount", "0.1,-2,3e-1,0,+0.5,-1.5"},
                                              {"--imu-frame-id", "imu_link"},
                                              {"--range-scale", "0.001"},
                                              {"--imu-rate", "+250"},
                                              {"--mag-scale", "1e-7"},
                                              {"--imu-temp-scale", ".25"}});
  for (const T_Program& program : kPrograms) {
    for (const TArguments& arguments : {apart, joined}) {
      SCOPED_TRACE(std::string(program.name) + " " + arguments.front());
      const T_SharedOptions options = program.parse(arguments);
      ASSERT_EQ(options.error, "");
      EXPECT_EQ(options.replay, "r.csv");
      EXPECT_TRUE(options.loop);
      EXPECT_TRUE(options.quiet);
      EXPECT_FALSE(options.simulate);
      EXPECT_FALSE(options.help);
      EXPECT_TRUE(options.dds.publish);
      EXPECT_EQ(options.dds.ns, "robot1");
      EXPECT_EQ(options.dds.frameId, "laser");
      EXPECT_TRUE(options.dds.sensorDataQos);
      EXPECT_EQ(options.dds.parentFrame, "base_footprint");
      EXPECT_EQ(options.dds.mount, (std::array<double, 6>{0.1, -2, 0.3, 0, 0.5, -1.5}));
      EXPECT_EQ(options.dds.ImuFrame(), "imu_link");
      EXPECT_EQ(options.dds.rangeScale, 0.001);
      EXPECT_EQ(options.dds.imuRate, 250.0);
      EXPECT_EQ(options.dds.magScale, 1e-7);
      EXPECT_EQ(options.dds.imuTempScale, 0.25);
      EXPECT_FALSE(options.dds.subscribe);
    }
    // --subscribe's namespace may be left out: an option after it is not one.
    for (const auto& [arguments, ns] : std::vector<std::pair<TArguments, std::string>>{
             {{"--subscribe", "/robot2", "--quiet"}, "robot2"},
             {{"--subscribe=robot2", "--quiet"}, "robot2"},
             {{"--subscribe", "--quiet"}, ""},
             {{"--quiet", "--subscribe"}, ""}}) {
      const T_SharedOptions options = program.parse(arguments);
      EXPECT_EQ(options.error, "") << program.name << " " << arguments.front();
      EXPECT_TRUE(options.dds.subscribe);
      EXPECT_EQ(options.dds.subscribeNs, ns) << program.name << " " << arguments.front();
      EXPECT_TRUE(options.quiet) << program.name << " " << arguments.front();
    }
    // The choice of one sensor among several.
    const T_SharedOptions chosen = program.parse({"--simulate", "--sensors=3", "--serial", "SKV00002", "--usb-path=1-2.4"});
    EXPECT_EQ(chosen.error, "") << program.name;
    EXPECT_EQ(chosen.sensors, 3u);
    EXPECT_EQ(chosen.sensor.serial, "SKV00002");
    EXPECT_EQ(chosen.sensor.usbPath, "1-2.4");
    EXPECT_TRUE(program.parse({"--list"}).list) << program.name;
    EXPECT_EQ(program.parse({"--subscribe", "ns", "--serial", "SKV00002"}).sensor.serial, "SKV00002") << program.name;
    EXPECT_TRUE(program.parse({"--simulate", "-h"}).help) << program.name;
    EXPECT_TRUE(program.parse({"--help"}).help) << program.name;
    // A value is taken whole, even one that looks like an option.
    EXPECT_EQ(program.parse({"--replay", "--loop"}).replay, "--loop") << program.name;
    EXPECT_EQ(program.parse({"--replay=a=b.csv"}).replay, "a=b.csv") << program.name;
  }
}

TEST(CommandLineOptions, TheRecordersOwnOptionsInBothSpellings) {
  const auto [apart, joined] = BothSpellings({{"--replay", "in.csv"},
                                              {"--speed", "0"},
                                              {"--duration", "2.5"},
                                              {"--output-dir", "out"},
                                              {"--wait", "0"},
                                              {"--format", "mcap,csv"}});
  for (const TArguments& arguments : {apart, joined}) {
    const T_RecordOptions options = kRecordCommandLine.Parse(arguments);
    ASSERT_EQ(options.error, "") << arguments.front();
    EXPECT_TRUE(options.csv && options.mcap);
    EXPECT_EQ(options.speed, 0.0);
    EXPECT_EQ(options.duration, 2.5);
    EXPECT_EQ(options.outputDir, "out");
    EXPECT_EQ(options.wait, 0.0);
  }
  const T_RecordOptions defaults = kRecordCommandLine.Parse({});
  EXPECT_EQ(defaults.error, "");
  EXPECT_EQ(defaults.speed, 1.0);
  EXPECT_LT(defaults.wait, 0.0);
  EXPECT_TRUE(defaults.csv && !defaults.mcap);
  const T_RecordOptions mcap = kRecordCommandLine.Parse({"--format", "mcap"});
  EXPECT_TRUE(!mcap.csv && mcap.mcap);
  EXPECT_EQ(kRecordCommandLine.Parse({"--format", "bag"}).error,
            "option '--format' needs csv, mcap or csv,mcap, not 'bag'");
  // Both programs split their recordings alike.
  for (const T_SharedOptions& split :
       {static_cast<T_SharedOptions>(kRecordCommandLine.Parse({"--split-size=2.5", "--split-duration", "60", "--max-files", "4"})),
        static_cast<T_SharedOptions>(kClientCommandLine.Parse({"--split-size", "2.5", "--split-duration=60", "--max-files=4"}))}) {
    EXPECT_EQ(split.error, "");
    EXPECT_EQ(split.Split().maxBytes, 2500000u);
    EXPECT_EQ(split.Split().maxUnits, 6000000u);
    EXPECT_EQ(split.Split().maxFiles, 4u);
  }
  EXPECT_EQ(kRecordCommandLine.Parse({"--max-files", "0"}).error,
            "option '--max-files' needs a whole number from 1 to 1000000, not '0'");
  // The client's recording is the panel's CSV file, with an MCAP file beside it or not.
  EXPECT_TRUE(kClientCommandLine.Parse({"--format=csv,mcap"}).mcap);
  // The trends window at start is the client's alone.
  EXPECT_TRUE(kClientCommandLine.Parse({"--simulate", "--trends"}).trends);
  EXPECT_FALSE(kClientCommandLine.Parse({"--simulate"}).trends);
  EXPECT_EQ(kRecordCommandLine.Parse({"--trends"}).error, "unknown argument '--trends'");
  EXPECT_EQ(kClientCommandLine.Parse({"--format", "mcap"}).error, "option '--format' needs csv or csv,mcap, not 'mcap'");
}

TEST(CommandLineOptions, EveryUsageErrorReadsTheSameInBothPrograms) {
  const std::pair<TArguments, std::string> shared[] = {
      {{"--simulate", "--fast"}, "unknown argument '--fast'"},
      {{"--fast=1"}, "unknown argument '--fast=1'"},
      {{"simulate"}, "unknown argument 'simulate'"},
      {{"-h=1"}, "unknown argument '-h=1'"},
      {{"--quiet=yes"}, "option '--quiet' takes no value"},
      {{"--publish="}, "option '--publish' takes no value"},
      {{"--replay"}, "option '--replay' needs a value"},
      {{"--replay="}, "option '--replay' needs a file name"},
      {{"--quiet", "--namespace"}, "option '--namespace' needs a value"},
      {{"--frame-id", ""}, "option '--frame-id' needs a name"},
      {{"--qos", "best-effort"}, "option '--qos' needs reliable or sensor-data, not 'best-effort'"},
      {{"--imu-rate", "0"}, "option '--imu-rate' needs a positive number, not '0'"},
      {{"--mount", "1,2,3"}, "option '--mount' needs six numbers X,Y,Z,ROLL,PITCH,YAW, not '1,2,3'"},
      {{"--mount", "1,2,3,4,5,6,7"}, "option '--mount' needs six numbers X,Y,Z,ROLL,PITCH,YAW, not '1,2,3,4,5,6,7'"},
      {{"--mount", "1,2,,4,5,6"}, "option '--mount' needs six numbers X,Y,Z,ROLL,PITCH,YAW, not '1,2,,4,5,6'"},
      {{"--range-scale=-1"}, "option '--range-scale' needs a positive number, not '-1'"},
      {{"--range-scale", "1m"}, "option '--range-scale' needs a positive number, not '1m'"},
      {{"--gyro-scale", "inf"}, "option '--gyro-scale' needs a positive number, not 'inf'"},
      {{"--accel-scale", "0x10"}, "option '--accel-scale' needs a positive number, not '0x10'"},
      {{"--mag-scale", "+-1"}, "option '--mag-scale' needs a positive number, not '+-1'"},
      {{"--loop"}, "--loop needs --replay"},
      {{"--simulate", "--replay", "a.csv"}, "--simulate and --replay cannot be used together"},
      {{"--subscribe", "--simulate"}, "--subscribe takes the place of --simulate and --replay"},
      {{"--replay=a.csv", "--subscribe", "ns"}, "--subscribe takes the place of --simulate and --replay"},
      {{"--sensors", "2"}, "--sensors needs --simulate"},
      {{"--simulate", "--sensors", "0"}, "option '--sensors' needs a whole number from 1 to 8, not '0'"},
      {{"--simulate", "--sensors", "2.5"}, "option '--sensors' needs a whole number from 1 to 8, not '2.5'"},
      {{"--simulate", "--sensors=-1"}, "option '--sensors' needs a whole number from 1 to 8, not '-1'"},
      {{"--serial="}, "option '--serial' needs a serial number"},
      {{"--replay", "a.csv", "--serial", "SKV00001"},
       "--list, --serial and --usb-path choose among attached sensors, not a recording"},
      {{"--subscribe", "--usb-path", "1-2"},
       "--list and --usb-path choose among attached sensors; with --subscribe, choose by --serial"},
      // The first error in the command line is the one said.
      {{"--imu-rate", "0", "--fast"}, "option '--imu-rate' needs a positive number, not '0'"},
  };
  for (const T_Program& program : kPrograms) {
    for (const auto& [arguments, error] : shared) {
      EXPECT_EQ(program.parse(arguments).error, error) << program.name << " " << arguments.front();
    }
  }

  const std::pair<TArguments, std::string> recorder[] = {
      {{"--duration"}, "option '--duration' needs a value"},
      {{"--duration", "0"}, "option '--duration' needs a number of seconds above 0, not '0'"},
      {{"--duration", "10s"}, "option '--duration' needs a number of seconds above 0, not '10s'"},
      {{"--wait=-1"}, "option '--wait' needs a number of seconds, not '-1'"},
      {{"--wait", "nan"}, "option '--wait' needs a number of seconds, not 'nan'"},
      {{"--replay", "a.csv", "--speed", "-2"}, "option '--speed' needs a factor of 0 or more, not '-2'"},
      {{"--output-dir="}, "option '--output-dir' needs a folder"},
      {{"--speed", "2"}, "--speed needs --replay"},
      {{"--loop", "--speed=2"}, "--speed needs --replay"},
  };
  for (const auto& [arguments, error] : recorder) {
    EXPECT_EQ(kRecordCommandLine.Parse(arguments).error, error) << arguments.front();
    // The recorder's own options are no options of the client's.
    EXPECT_EQ(kClientCommandLine.Parse(arguments).error.rfind("unknown argument '--", 0), 0u) << arguments.front();
  }
}

// Descriptions start at the program's column, further lines of one are
// indented to it, and a name too long for the column stands alone.
TEST(CommandLineOptions, UsageListsTheTablesInColumns) {
  const std::string client = kClientCommandLine.Usage("skarv-client");
  EXPECT_NE(client.find("\n  --simulate  run against the built-in virtual sensor instead of a real one\n"
                        "  --replay FILE\n"
                        "              play the recording FILE"),
            std::string::npos)
      << client;
  const std::string recorder = kRecordCommandLine.Usage("skarv-record");
  EXPECT_NE(recorder.find("\n  --speed FACTOR      replay at FACTOR times the recorded pace (default 1);\n"
                          "                      0 plays it"),
            std::string::npos)
      << recorder;
  for (const std::string& usage : {client, recorder}) {
    EXPECT_NE(usage.find("\n\n  --publish          publish the sensor"), std::string::npos) << usage;
    EXPECT_NE(usage.find("\n  --imu-temp-scale S degrees C"), std::string::npos) << usage;
    EXPECT_EQ(usage.find("  -h"), std::string::npos) << usage;
  }
}

// The program run as a shell runs it: the error and the usage on standard
// error, nothing on standard output, status 2.
TEST(CommandLineOptions, ABadOptionEndsEitherProgramWithStatus2) {
  const std::pair<const char*, std::string> runs[] = {
      {SKARV_CLIENT_PROGRAM, ": option '--quiet' takes no value\n" + kClientCommandLine.Usage(SKARV_CLIENT_PROGRAM)},
      {SKARV_RECORD_PROGRAM, ": option '--duration' needs a number of seconds above 0, not 'soon'\n" +
                                 kRecordCommandLine.Usage(SKARV_RECORD_PROGRAM)},
  };
  const TArguments arguments[] = {{"--quiet=yes"}, {"--duration", "soon"}};
  for (size_t i = 0; i < std::size(runs); ++i) {
    CClientProcess::T_Setup setup;
    setup.program = runs[i].first;
    setup.arguments = arguments[i];
    setup.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    CClientProcess process(setup);
    ASSERT_TRUE(process.Started());
    int status = -1;
    ASSERT_TRUE(process.WaitForExit(std::chrono::seconds(60), status)) << runs[i].first;
    ASSERT_TRUE(WIFEXITED(status)) << runs[i].first;
    EXPECT_EQ(WEXITSTATUS(status), 2) << runs[i].first;
    EXPECT_EQ(process.Output(), "");
    EXPECT_EQ(process.Errors(), runs[i].first + runs[i].second);
  }
}

}  // namespace
