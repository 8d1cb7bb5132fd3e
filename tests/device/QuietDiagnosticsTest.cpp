// Quiet mode on the virtual sensor: the lines of every update and every scan
// are left out, while hot-plug, errors and gap reports still show.

#include <filesystem>

#include "Diagnostics.h"
#include "EndToEndFixture.h"

namespace {

// Quiet for as long as it lives, whichever way the test ends.
struct QuietScope {
  QuietScope() { SetDiagQuiet(true); }
  ~QuietScope() { SetDiagQuiet(false); }
};

using QuietDiagnostics = EndToEndFixture;

TEST_F(QuietDiagnostics, MutesTheLinesOfEveryUpdateAndScanOnly) {
  // Without quiet mode every update and every scan prints.
  std::string out = Run(1500);
  EXPECT_NE(out.find("GetNextPipeData bytesTransfered = "), std::string::npos);
  EXPECT_NE(out.find("Edge Found IndexTime = "), std::string::npos);
  EXPECT_NE(out.find("foundScanSize = "), std::string::npos);

  const QuietScope quiet;
  int lastScan = 0;
  out = Run(1500, &lastScan);
  EXPECT_GT(lastScan, 2) << "scans still complete";
  EXPECT_EQ(out, "") << "a steady stream prints nothing";

  // A gap is still reported.
  sensor->DropSamples(3);
  out = Run(200);
  EXPECT_EQ(Occurrences(out, "Skiped records = 3 at "), 1u) << out.substr(0, 500);
  EXPECT_EQ(out.find("bytesTransfered"), std::string::npos);

  // So are the removal and the arrival of the sensor.
  out = Quietly([&] {
    bus->Unplug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  out += Run(300);
  EXPECT_NE(out.find("[REMOVAL]"), std::string::npos) << out;
  EXPECT_NE(out.find("Removed cleanup start \n"), std::string::npos) << out;
  out = Quietly([&] {
    bus->Plug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  out += Run(1500);
  EXPECT_NE(out.find("[ARRIVAL]"), std::string::npos) << out;
  EXPECT_NE(out.find("Device opened successfully!\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Edge Found"), std::string::npos) << out;

  // And an error: a recording file that cannot be created.
  std::filesystem::create_directory("gone");
  std::filesystem::current_path("gone");
  std::filesystem::remove(workDir / "gone");
  controller->RequestRecording(true);
  out = Run(500);
  std::filesystem::current_path(workDir);
  EXPECT_EQ(out, "Error opening save data file.  errno = %x Error Code = 0x2\n");
}

}  // namespace
