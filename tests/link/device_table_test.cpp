// Device search counting and the two matching rules (tools: prefix; controller: whole string).
#include <gtest/gtest.h>

#include <cstdlib>

#include "link/device_table.h"

using cp290::DeviceTable;

TEST(DeviceTable, CountsDevicesWithoutPath)
{
    DeviceTable t;
    t.setDevices({"", "/dev/ttyUSB1"});
    EXPECT_EQ(t.numPorts(), 2);
    EXPECT_EQ(t.path(1), "");
    EXPECT_EQ(t.path(2), "/dev/ttyUSB1");
    EXPECT_TRUE(t.anyUsable());
    t.setDevices({"", ""});
    EXPECT_EQ(t.numPorts(), 2);
    EXPECT_FALSE(t.anyUsable());
}

TEST(DeviceTable, IgnoresDevicesBeyondTheTenthAndOverlongPaths)
{
    std::vector<std::string> many;
    for (int i = 0; i < 14; ++i)
        many.push_back("/dev/ttyS" + std::to_string(i));
    many[2] = "/dev/" + std::string(2000, 'x');
    DeviceTable t;
    t.setDevices(many);
    EXPECT_EQ(t.numPorts(), 10);
    EXPECT_EQ(t.path(10), "/dev/ttyS9");
    EXPECT_EQ(t.path(11), "");
    EXPECT_EQ(t.path(0), "");
    EXPECT_EQ(t.path(3), "");  // did not fit: counted, left empty
}

TEST(DeviceTable, ToolsMatchTheStoredPathAsPrefix)
{
    DeviceTable t;
    t.setDevices({"/dev/ttyS0", "", "/dev/ttyUSB0-cp290"});
    EXPECT_EQ(t.findPrefix("/dev/ttyUSB0"), 3);
    EXPECT_EQ(t.findPrefix("/dev/ttyS"), 1);
    EXPECT_EQ(t.findPrefix("/dev/ttyACM0"), 0);
    EXPECT_EQ(t.findPrefix(""), 0);
}

TEST(DeviceTable, EnvironmentListingReplacesTheSystemOne)
{
    setenv("CP290_SERIAL_DEVICES", "/tmp/a:/tmp/b", 1);
    DeviceTable t;
    t.search();
    unsetenv("CP290_SERIAL_DEVICES");
    EXPECT_EQ(t.numPorts(), 2);
    EXPECT_EQ(t.path(2), "/tmp/b");
}
