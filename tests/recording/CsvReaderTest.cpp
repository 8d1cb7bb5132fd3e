#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CsvReader.h"

using recording::CCsvReader;
using recording::CRecordSource;
using kiv::T_RawRecord;

namespace {

const std::string kHeader = std::string(recording::CsvHeader()) + "\n";
const std::string kLine = "5,100,123.400000,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n";

class CsvReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/skarv-reader-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Reads every record; returns how it ended and the records before it.
  static CRecordSource::EResult ReadAll(CCsvReader& reader, std::vector<kiv::T_RawRecord>& records) {
    kiv::T_RawRecord record;
    CRecordSource::EResult result;
    while ((result = reader.Next(record)) == CRecordSource::EResult::eRecord) {
      records.push_back(record);
    }
    return result;
  }

  std::filesystem::path dir;
};

TEST_F(CsvReaderTest, TurnsEachLineBackIntoTheSensorsWords) {
  // Windows line ends and an empty line.
  const std::string path =
      Write("r.csv", std::string(recording::CsvHeader()) + "\r\n" + kLine.substr(0, kLine.size() - 1) + "\r\n\n" +
                         "65535,16383,6000.000000,65535,-27.000000,0,65535,1.060000,-1,-32768,32767,0,0,0,0,0,0,0\n");
  CCsvReader reader(path);
  ASSERT_TRUE(reader.Open()) << reader.Error();
  std::vector<kiv::T_RawRecord> records;
  EXPECT_EQ(ReadAll(reader, records), CRecordSource::EResult::eEnd);
  EXPECT_EQ(reader.Error(), "");
  ASSERT_EQ(records.size(), 2u);
  const kiv::T_RawRecord& a = records[0];
  EXPECT_EQ(a.count, 5);
  EXPECT_EQ(a.DeltTime(), 100);
  EXPECT_EQ(a.rawDistance, 1234);
  EXPECT_EQ(a.width, 50);
  EXPECT_EQ(a.rawAnaTemp, 4518);  // 4518 x 0.01162 - 27 = 25.49916
  EXPECT_EQ(a.ScanState(), 1);
  EXPECT_EQ(a.laserPower, 200);
  EXPECT_EQ(a.rawSupplyVoltage, 4817);  // 4817 x 0.0022711 + 1.06 = 11.9998887
  EXPECT_EQ(a.auxWord, 0);
  EXPECT_EQ(a.imu[0], 1);
  EXPECT_EQ(a.imu[9], 10);
  const kiv::T_RawRecord& b = records[1];
  EXPECT_EQ(b.count, 65535);
  EXPECT_EQ(b.DeltTime(), 16383);
  EXPECT_EQ(b.rawDistance, 60000);
  EXPECT_EQ(b.rawAnaTemp, 0);
  EXPECT_EQ(b.rawSupplyVoltage, 0);
  EXPECT_EQ(b.imu[0], 0xFFFF);
  EXPECT_EQ(b.imu[1], 0x8000);
  EXPECT_EQ(b.imu[2], 0x7FFF);
  EXPECT_EQ(reader.LineNumber(), 4u);
  EXPECT_EQ(reader.Next(records[0]), CRecordSource::EResult::eEnd) << "the end stays the end";
}

TEST_F(CsvReaderTest, EveryRawWordOfTheScaledColumnsAndOtherSpellingsOfANumberReadBack) {
  // Each raw word as the recording prints its scaled value ("%f").
  std::string text = kHeader;
  char line[256];
  for (unsigned raw = 0; raw <= 65535; ++raw) {
    std::snprintf(line, sizeof line, "%u,1,%f,2,%f,0,3,%f,0,0,0,0,0,0,0,0,0,0\n", raw, raw * 0.1, raw * 0.01162 - 27.0,
                  raw * 0.0022711 + 1.06);
    text += line;
  }
  // Leading zeros, fewer or more decimals than printed (the rest zeros), a
  // negative zero.
  text += "007,0012,0012.30,-0,-26.98838,1,5,1.06227100000000,-0,-00,1,1,1,1,1,1,1,1\n";
  CCsvReader reader(Write("words.csv", text));
  ASSERT_TRUE(reader.Open()) << reader.Error();
  std::vector<kiv::T_RawRecord> records;
  EXPECT_EQ(ReadAll(reader, records), CRecordSource::EResult::eEnd) << reader.Error();
  ASSERT_EQ(records.size(), 65537u);
  for (unsigned raw = 0; raw <= 65535; ++raw) {
    const kiv::T_RawRecord& record = records[raw];
    ASSERT_EQ(record.count, raw);
    ASSERT_EQ(record.rawDistance, raw);
    ASSERT_EQ(record.rawAnaTemp, raw);
    ASSERT_EQ(record.rawSupplyVoltage, raw);
  }
  const kiv::T_RawRecord& odd = records.back();
  EXPECT_EQ(odd.count, 7);
  EXPECT_EQ(odd.DeltTime(), 12);
  EXPECT_EQ(odd.rawDistance, 123);
  EXPECT_EQ(odd.width, 0);
  EXPECT_EQ(odd.rawAnaTemp, 1);
  EXPECT_EQ(odd.rawSupplyVoltage, 1);
  EXPECT_EQ(odd.imu[0], 0);
  EXPECT_EQ(odd.imu[1], 0);
}

TEST_F(CsvReaderTest, RefusesWhatIsNotARecordingBeforeReadingARecord) {
  const std::string missing = (dir / "missing.csv").string();
  const struct {
    std::string path;
    std::string error;
  } cases[] = {
      {missing, missing + ": No such file or directory"},
      {Write("empty.csv", ""), (dir / "empty.csv").string() + ": empty file, not a recording"},
      {Write("other.csv", "Count,DeltTime\n" + kLine),
       (dir / "other.csv").string() + ": not a recording (its first line is not the recording header)"},
      {Write("lines.csv", kLine + kLine),
       (dir / "lines.csv").string() + ": not a recording (its first line is not the recording header)"},
      {dir.string(), dir.string() + ": Is a directory"},
  };
  for (const auto& c : cases) {
    CCsvReader reader(c.path);
    EXPECT_FALSE(reader.Open()) << c.path;
    EXPECT_EQ(reader.Error(), c.error);
  }
  // The header alone is a recording without records.
  CCsvReader headerOnly(Write("header.csv", kHeader));
  ASSERT_TRUE(headerOnly.Open());
  kiv::T_RawRecord record;
  EXPECT_EQ(headerOnly.Next(record), CRecordSource::EResult::eEnd);
}

TEST_F(CsvReaderTest, ABadLineStopsTheSourceThereNamingLineFieldAndValue) {
  const struct {
    std::string bad;  // the third record line (line 4 of the file)
    std::string what;
  } cases[] = {
      {"5,100,123.4,50\n", "4 fields, expected 18"},
      {kLine.substr(0, kLine.size() - 1) + ",11\n", "19 fields, expected 18"},
      {"5,100,123.400000,50,25.5", "the file ends inside this line"},
      {kLine.substr(0, kLine.size() - 2), "the file ends inside this line"},  // inside MagZ: "1" of "10"
      {"5,x,123.400000,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n", "DeltTime \"x\" is not a whole number"},
      {"5,100,,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n", "Distance \"\" is not a number"},
      {"5,100,nan,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n", "Distance \"nan\" is not a number"},
      {"5.5,100,1.0,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n", "Count \"5.5\" is not a whole number"},
      {"5,100,1.0,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,1x\n", "MagZ \"1x\" is not a whole number"},
      {"65536,100,1.0,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n", "Count 65536 is out of range (0 to 65535)"},
      {"5,16384,1.0,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n",
       "DeltTime 16384 is out of range (0 to 16383)"},
      {"5,100,6553.600000,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n",
       "Distance 6553.600000 is out of range (0 to 6553.5)"},
      {"5,100,1.0,50,-28.000000,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n",
       "AnaTemp -28.000000 is out of range (-27 to 734.517)"},
      {"5,100,1.0,50,25.499160,2,200,11.999889,1,2,3,4,5,6,7,8,9,10\n", "ScanState 2 is out of range (0 to 1)"},
      {"5,100,1.0,50,25.499160,1,200,0.500000,1,2,3,4,5,6,7,8,9,10\n",
       "SupplyVoltage 0.500000 is out of range (1.06 to 149.897)"},
      {"5,100,1.0,50,25.499160,1,200,11.999889,-32769,2,3,4,5,6,7,8,9,10\n",
       "AccelX -32769 is out of range (-32768 to 32767)"},
      {"5,100,1.0,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,99999999999999999999\n",
       "MagZ 99999999999999999999 is out of range (-32768 to 32767)"},
      {std::string(2000, '7') + "\n", "line longer than 1024 characters"},
      // Values the recording cannot have written: below the column, or finer.
      {"5,100,-0.04,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n",
       "Distance -0.04 is not a value the recording writes (the nearest is 0.000000)"},
      {"5,100,73.34,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n",
       "Distance 73.34 is not a value the recording writes (the nearest is 73.300000)"},
      {"5,100,73.3000001,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n",
       "Distance 73.3000001 is not a value the recording writes (the nearest is 73.300000)"},
      {"5,100,73.300000,50,25.5,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n",
       "AnaTemp 25.5 is not a value the recording writes (the nearest is 25.499160)"},
      {"5,100,73.300000,50,25.499160,1,200,1.0622711,1,2,3,4,5,6,7,8,9,10\n",
       "SupplyVoltage 1.0622711 is not a value the recording writes (the nearest is 1.062271)"},
      // Bytes that would steer a terminal are shown escaped.
      {"5\x1b[2J\x07,100,73.300000,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n",
       "Count \"5\\x1b[2J\\x07\" is not a whole number"},
      {"5,100,73.300000,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,1\xc2\x9b"
       "0\xc3\xa9\n",
       "MagZ \"1\\xc2\\x9b0\xc3\xa9\" is not a whole number"},
  };
  for (const auto& c : cases) {
    // A good line follows, unless the bad one is cut off by the end of the file.
    const std::string path = Write("bad.csv", kHeader + kLine + "\n" + c.bad + (c.bad.back() == '\n' ? kLine : ""));
    CCsvReader reader(path);
    ASSERT_TRUE(reader.Open()) << reader.Error();
    std::vector<kiv::T_RawRecord> records;
    EXPECT_EQ(ReadAll(reader, records), CRecordSource::EResult::eError) << c.bad;
    EXPECT_EQ(records.size(), 1u) << "the record before it is read: " << c.bad;
    EXPECT_EQ(reader.Error(), path + ":4: " + c.what);
    kiv::T_RawRecord record;
    EXPECT_EQ(reader.Next(record), CRecordSource::EResult::eError) << "nothing is read after the bad line";
  }
}

}  // namespace
