// The device mirror on disk: a damaged file is left as it is until a complete
// read of the device replaces it, and free slots match however they read back.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "state/device_mirror.h"
#include "tests/state/state_test_env.h"
#include "tests/support/test_support.h"

using testing_support::readFile;

TEST(DeviceMirror, ADamagedFileIsLeftAloneUntilACompleteReadAndFreeSlotsMatch)
{
    testing_support::TempDir dir;
    state_test::ScopedEnv env("XDG_STATE_HOME", dir.path());
    std::filesystem::create_directories(dir.file("cp290"));
    const std::string path = state::deviceMirrorPath();
    for (const std::string text : {"not a mirror\n", "cp290 device mirror 1\nbase 6\n",
                                   "cp290 device mirror 1\nevent 129 087f061e80006002 5\n",
                                   "cp290 device mirror 1\nevent 1 087f061e80006000 5\n",  // no function: free
                                   "cp290 device mirror 1\nfree 2 5\nfree 2 6\n"}) {
        testing_support::writeFile(path, text);
        EXPECT_EQ(state::readDeviceMirror().state, state::MirrorState::Unusable) << text;
        EXPECT_EQ(state::updateDeviceMirror([](state::DeviceMirror& m) { m.baseCode = 0x60; }), EINVAL);
        EXPECT_EQ(readFile(path), text);
    }
    const state::MirrorImage wake{0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x02};
    state::MirrorSlots device;
    device[3] = wake;
    device[4] = state::MirrorImage{0x08, 0x7F, 0x06, 0x1E, 0x80, 0x00, 0x60, 0x00};  // reads back, does nothing
    device[5] = state::MirrorImage{0xFF, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(state::updateDeviceMirror([&](state::DeviceMirror& m) { m.setAllEvents(device, 100); }, true), 0);
    const state::MirrorRead r = state::readDeviceMirror();
    ASSERT_EQ(r.state, state::MirrorState::Read) << r.why;
    EXPECT_EQ(r.mirror.eventCount(), 1);
    EXPECT_TRUE(r.mirror.matches(device));
    EXPECT_EQ(r.mirror.changed[3], 100);
    EXPECT_EQ(r.mirror.changed[4], 0) << "a slot never used has no date";
    EXPECT_EQ(readFile(path), "cp290 device mirror 1\nevent 3 087f061e80006002 100\n");
}
