#include <gtest/gtest.h>

#include <thread>

#include "SensorTestHelpers.h"
#include "VirtualSensor.h"

namespace sim {
namespace {

using test::Command;
using test::NextFrame;
using test::ReadStatus;
using test::Word;

TEST(VirtualSensorCommand, ParameterFrameEchoesTheCommand) {
  CVirtualSensor sensor;
  EXPECT_TRUE(ReadStatus(sensor).empty());  // nothing pending: NAK
  ASSERT_TRUE(Command(sensor, 'A', 300, 258));
  const std::vector<uint8_t> expected = {0x01, 0x02, 0x01, 0x2C, 0x00, 0x32, 0x00, 0xC8, 0x00,
                                         0x96, 0x03, 0xE8, 0x03, 0xE8, 0x00, 0x00, 0x01, 0x02};
  EXPECT_EQ(ReadStatus(sensor), expected);
  EXPECT_TRUE(ReadStatus(sensor).empty());

  // Two commands before a read: one frame, echoing the second.
  Command(sensor, 'B', 7, 259);
  Command(sensor, ' ', 0, 260);
  const auto frame = ReadStatus(sensor);
  ASSERT_EQ(frame.size(), 18u);
  EXPECT_EQ(Word(frame, 4), 7);
  EXPECT_EQ(Word(frame, 16), 260);
  EXPECT_TRUE(ReadStatus(sensor).empty());
}

TEST(VirtualSensorCommand, EachSettingCommandSetsItsValue) {
  const char commands[] = {'A', 'B', 'C', 'S', '1', '2', '3'};
  CVirtualSensor sensor;
  for (int i = 0; i < 7; ++i) {
    Command(sensor, commands[i], static_cast<uint16_t>(0xA000 + i), static_cast<uint16_t>(65530 + i));
    const auto frame = ReadStatus(sensor);
    ASSERT_EQ(frame.size(), 18u);
    EXPECT_EQ(Word(frame, 2 * (i + 1)), 0xA000 + i) << commands[i];
    EXPECT_EQ(Word(frame, 16), static_cast<uint16_t>(65530 + i));
    EXPECT_EQ(sensor.Values()[i + 1], 0xA000 + i);
  }
  EXPECT_EQ(sensor.Values()[0], CVirtualSensor::kDefaultValues[0]);

  const auto before = sensor.Values();
  Command(sensor, 'Z', 5, 9);  // unknown: echoed, changes nothing
  EXPECT_EQ(sensor.Values(), before);
  EXPECT_EQ(Word(ReadStatus(sensor), 16), 9);
  EXPECT_EQ(sensor.ReceivedCommands().size(), 8u);
  EXPECT_EQ(sensor.ReceivedCommands().back().command, 'Z');
}

TEST(VirtualSensorCommand, LaserAndRotationRate) {
  CVirtualSensor sensor;
  Command(sensor, 'F', 0, 1);
  EXPECT_FALSE(sensor.LaserOn());
  Command(sensor, 'F', 2, 2);
  EXPECT_TRUE(sensor.LaserOn());
  Command(sensor, 'R', 100, 3);
  EXPECT_EQ(sensor.RotationRpm(), 300u);
  Command(sensor, 'R', 9000, 4);
  EXPECT_EQ(sensor.RotationRpm(), 3600u);
  EXPECT_EQ(test::Entries(NextFrame(sensor)), 120u);
}

TEST(VirtualSensorCommand, RefusesMalformedCommands) {
  CVirtualSensor sensor;
  const uint8_t frame[64] = {'A', 0x00, 0x05, 0x00, 0x01};
  EXPECT_FALSE(sensor.ReceiveOut(0x01, frame, 4));
  EXPECT_FALSE(sensor.ReceiveOut(0x02, frame, 5));
  EXPECT_TRUE(sensor.ReceivedCommands().empty());
  EXPECT_TRUE(sensor.ReceiveOut(0x01, frame, sizeof frame));  // a full packet
  EXPECT_EQ(sensor.Values()[1], 5);
}

TEST(VirtualSensorCommand, SaveRestoreAndPowerUp) {
  CVirtualSensor sensor;
  Command(sensor, 'A', 300, 1);
  sensor.PowerUp();  // not saved: flash still holds the factory values
  EXPECT_EQ(sensor.Values(), CVirtualSensor::kDefaultValues);

  Command(sensor, 'A', 300, 2);
  Command(sensor, '!', 0, 3);
  Command(sensor, 'A', 400, 4);
  Command(sensor, 'F', 0, 5);
  NextFrame(sensor);
  sensor.PowerUp();
  EXPECT_EQ(sensor.Values()[1], 300);
  EXPECT_TRUE(sensor.LaserOn());
  EXPECT_EQ(sensor.LastCommandNumber(), 0);
  EXPECT_EQ(sensor.NextCount(), 0);
  EXPECT_TRUE(ReadStatus(sensor).empty());  // the pending frame went with the power

  Command(sensor, '@', 0, 6);
  EXPECT_EQ(sensor.Values(), CVirtualSensor::kDefaultValues);
  sensor.PowerUp();
  EXPECT_EQ(sensor.Values()[1], 300);  // '@' did not save
}

TEST(VirtualSensorCommand, StatusEndpointHoldsTheFrameItCannotSend) {
  CVirtualSensor sensor;
  Command(sensor, 'C', 1, 11);
  EXPECT_TRUE(ReadStatus(sensor, 17).empty());  // too small for the whole frame
  sensor.SetStatusSilent(true);
  EXPECT_TRUE(ReadStatus(sensor).empty());
  sensor.SetStatusSilent(false);
  EXPECT_EQ(Word(ReadStatus(sensor), 16), 11);
}

TEST(VirtualSensorCommand, BusAndTestThreadsMeet) {
  CVirtualSensor sensor;
  std::thread bus([&sensor] {
    for (int ms = 0; ms < 500; ++ms) {
      NextFrame(sensor);
      ReadStatus(sensor);
    }
  });
  for (uint16_t n = 1; n <= 200; ++n) {
    Command(sensor, n % 2 ? 'R' : 'A', static_cast<uint16_t>(300 + 10 * n), n);
    sensor.SamplesTaken();
  }
  bus.join();
  EXPECT_EQ(sensor.LastCommandNumber(), 200);
}

}  // namespace
}  // namespace sim
