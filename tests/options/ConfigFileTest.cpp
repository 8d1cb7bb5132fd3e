// A recorder service's options file, read in place of --config FILE.

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "RecordOptions.h"

namespace {

TEST(ConfigFile, StandsForItsOptionsInPlaceAndSaysWhatItCannotRead) {
  char path[] = "/tmp/skarv-config-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  std::ofstream(path) << "# a recorder\n\n  serial SKV00417\noutput-dir /data/with space  \n--publish\n"
                         "format csv,mcap\nduration 60\n";
  std::vector<std::string> arguments = {"--quiet", "--config", path, "--duration", "5"};
  std::string error;
  ASSERT_TRUE(ExpandConfigFiles(arguments, error)) << error;
  EXPECT_EQ(arguments, (std::vector<std::string>{"--quiet", "--serial", "SKV00417", "--output-dir", "/data/with space",
                                                 "--publish", "--format", "csv,mcap", "--duration", "60",
                                                 "--duration", "5"}));
  const T_RecordOptions options = kRecordCommandLine.Parse(arguments);
  EXPECT_EQ(options.error, "");
  EXPECT_EQ(options.duration, 5.0) << "the command line's own option, after the file, wins";
  EXPECT_EQ(options.outputDir, "/data/with space");
  EXPECT_TRUE(options.dds.publish && options.mcap);

  std::ofstream(path) << "serial SKV00417\n-x\n";
  arguments = {std::string("--config=") + path};
  EXPECT_FALSE(ExpandConfigFiles(arguments, error));
  EXPECT_EQ(error, std::string(path) + ":2: not an option of the recorder: -x");
  std::ofstream(path) << "config /etc/skarv/other.conf\n";
  EXPECT_FALSE(ExpandConfigFiles(arguments, error));
  EXPECT_EQ(error, std::string(path) + ":1: not an option of the recorder: config /etc/skarv/other.conf");
  ::unlink(path);
  EXPECT_FALSE(ExpandConfigFiles(arguments, error));
  EXPECT_EQ(error, std::string(path) + ": No such file or directory");
}

}  // namespace
