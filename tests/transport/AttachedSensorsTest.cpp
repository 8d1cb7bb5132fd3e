// The listing of --list: every sensor on the bus, each with whether it can be
// opened, and its line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AttachedSensors.h"
#include "backends/VirtualSensorFixture.h"

namespace {

class AttachedSensors : public VirtualSensorFixture {};

TEST_F(AttachedSensors, EachSensorIsListedFreeBusyOrNotPermitted) {
  auto second = std::make_shared<sim::CVirtualSensor>(2, "SKV00002");
  auto third = std::make_shared<sim::CVirtualSensor>(3, "");
  bus->Plug(second);
  bus->Plug(third);
  // The second is held open (by another program, as far as the list can
  // tell); the first open after that, the first sensor's, is refused.
  KLST_HANDLE list = nullptr;
  KLST_DEVINFO_HANDLE entry = nullptr;
  ASSERT_TRUE(LstK_Init(&list, 0));
  ASSERT_TRUE(LstK_MoveNext(list, &entry));
  ASSERT_TRUE(LstK_MoveNext(list, &entry));
  KUSB_HANDLE held = nullptr;
  ASSERT_TRUE(UsbK_Init(&held, entry));
  auto& backend = static_cast<CVirtualUsbBackend&>(*UsbLib_GetBackend());
  backend.RefuseOpens(1, kErrorAccessDenied);

  std::vector<T_AttachedSensor> sensors;
  uint32_t error = 1;
  ASSERT_TRUE(FindAttachedSensors(0xE785, 0x64F2, sensors, error));
  EXPECT_EQ(error, kErrorSuccess);
  ASSERT_EQ(sensors.size(), 3u);
  EXPECT_EQ(DescribeAttachedSensor(sensors[0]).rfind(
                "SKV00001  1-1  Skarv laser range sensor  (Skarv Sensors)  no permission: The sensor may not be opened "
                "by this user (permission denied). Install the udev rule shipped in udev/70-skarv-sensor.rules",
                0),
            0u)
      << DescribeAttachedSensor(sensors[0]);
  EXPECT_EQ(DescribeAttachedSensor(sensors[0]).find('\n'), std::string::npos);
  EXPECT_EQ(DescribeAttachedSensor(sensors[1]),
            "SKV00002  1-2  Skarv laser range sensor  (Skarv Sensors)  busy: another program has claimed it");
  EXPECT_EQ(DescribeAttachedSensor(sensors[2]), "(no serial number)  1-3  Skarv laser range sensor  (Skarv Sensors)  free");

  // Listing closed what it opened: the free one opens as before.
  KUSB_HANDLE again = nullptr;
  ASSERT_TRUE(LstK_MoveNext(list, &entry));
  EXPECT_TRUE(UsbK_Init(&again, entry)) << GetLastError();
  UsbK_Free(again);
  UsbK_Free(held);
  LstK_Free(list);
  // Nothing of the vendor's and product's on the bus: an empty list.
  ASSERT_TRUE(FindAttachedSensors(0x1234, 0x5678, sensors, error));
  EXPECT_TRUE(sensors.empty());
}

}  // namespace
