// The note for a failed manual open: the first line never changes, the system's reason
// follows, and a permission refusal names the group that owns the device.

#include "connect/Opennote.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(OpenFailureNote, FirstLineIsTheDeviceAndTheReasonFollows) {
    EXPECT_EQ(OpenFailureNote("/dev/ttyUSB0", 0, ""), "Error opening device /dev/ttyUSB0");
    EXPECT_EQ(OpenFailureNote("/dev/ttyUSB0", ENOENT, ""), "Error opening device /dev/ttyUSB0");
    EXPECT_EQ(OpenFailureNote("/dev/ttyUSB0", ENOENT, "No such file or directory"),
              "Error opening device /dev/ttyUSB0\nNo such file or directory");
    // A permission refusal on a device that is not there to ask: no group line.
    EXPECT_EQ(OpenFailureNote("/dev/kestrane-none", EACCES, "Permission denied"),
              "Error opening device /dev/kestrane-none\nPermission denied");
}

TEST(OpenFailureNote, PermissionRefusalNamesTheOwningGroup) {
    char path[] = "/tmp/kestrane-device-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    // Give the file the group serial devices usually have, when the machine knows it.
    const group* dialout = getgrnam("dialout");
    if (dialout != nullptr) {
        EXPECT_EQ(chown(path, static_cast<uid_t>(-1), dialout->gr_gid), 0);
    }
    struct stat st {};
    ASSERT_EQ(stat(path, &st), 0);
    const group* owner = getgrgid(st.st_gid);
    const std::string name =
        owner != nullptr ? owner->gr_name : std::to_string(static_cast<unsigned long>(st.st_gid));

    EXPECT_EQ(DeviceGroupName(path), name);
    EXPECT_EQ(OpenFailureNote(path, EACCES, "Permission denied"),
              std::string("Error opening device ") + path + "\nPermission denied\n" +
                  "The device belongs to the group " + name +
                  "; your user must be a member of it.");
    unlink(path);
}

} // namespace
