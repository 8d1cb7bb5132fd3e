#pragma once
// Several controllers in one test, each with its own choice of sensor:
// made and initialised (returning what that printed), updated together, and
// ended quietly.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "SkarvIO.h"
#include "TestSupport.h"
#include "UsbLibrary.h"

class CControllers {
 public:
  ~CControllers() { Clear(); }

  CSkarvIO& Add(const T_SensorChoice& choice, std::string& printed) {
    mItems.push_back(std::make_unique<CSkarvIO>());
    CSkarvIO& io = *mItems.back();
    io.ChooseSensor(choice);
    printed = Quietly([&] {
      io.Initialize(10);
      EXPECT_TRUE(UsbLib_FlushHotplug());
    });
    return io;
  }
  void UpdateAll() {
    for (auto& io : mItems) io->UpdateContiniousData();
  }
  void Clear() {
    Quietly([&] { mItems.clear(); });
  }

 private:
  std::vector<std::unique_ptr<CSkarvIO>> mItems;
};
