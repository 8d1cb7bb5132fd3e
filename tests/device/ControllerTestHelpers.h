#pragma once
// A controller without a USB device, fed hand-made sample records in the
// order the continuous update applies them.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "SkarvIO.h"
#include "TestSupport.h"

using Record = kiv::T_RawRecord;

// A record with the given distance (in steps of 0.1) and width; every other
// word is zero unless the test sets it.
inline Record MakeRecord(double distance, int width = 50, int scanState = 0, int deltTime = 10) {
  Record record;
  record.rawDistance = static_cast<uint16_t>(std::lround(distance * 10));
  record.width = static_cast<uint16_t>(width);
  record.flags = Record::FlagsOf(static_cast<unsigned>(scanState), static_cast<unsigned>(deltTime));
  return record;
}

class ControllerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    io = std::make_unique<CSkarvIO>();
    // No backend is set: the port's start fails and is reported on stdout.
    Quietly([&] { io->Initialize(10); });
  }

  void TearDown() override {
    // The port reports its clean-up.
    Quietly([&] { io.reset(); });
  }

  // One step of the record loop: measurements, CSV line, scan point.
  int Feed(const Record& raw) {
    CUSBKivDataPipe::T_Record record = kiv::ScaledRecord(raw);
    io->mRawRecord = &raw;
    io->PopulateMemberVariables(&record);
    io->SaveFileTimeIncrement();
    return io->UpdateScanData();
  }

  // Feeds one record and returns what the controller printed.
  std::string FeedCaptured(const Record& record, int* result = nullptr) {
    int points = 0;
    const std::string printed = Quietly([&] { points = Feed(record); });
    if (result) {
      *result = points;
    }
    return printed;
  }

  std::unique_ptr<CSkarvIO> io;
};
