// The device list: the ordering rule over plain names, and the sysfs source read
// from a tree of the test's own (never the machine's serial ports).
#include "connect/Regutils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

Names ListOf(const DeviceList& list) {
    return Names(list.begin(), list.end());
}

Names Ordered(const Names& met) {
    DeviceList list;
    OrderDeviceNames(met, list);
    return ListOf(list);
}

// /dev/ttyS0 and /dev/ttyS1 stand where the first and second serial ports stand.
const std::string S0 = "/dev/ttyS0";
const std::string S1 = "/dev/ttyS1";
const std::string S2 = "/dev/ttyS2";
const std::string S3 = "/dev/ttyS3";
const std::string S4 = "/dev/ttyS4";
const std::string S8 = "/dev/ttyS8";

TEST(DeviceOrder, FirstAndSecondPortsLeadWhereverTheyWereMet) {
    const struct {
        Names met;
        Names offered;
    } cases[] = {
        {{S2, S0, S3, S1}, {S0, S1, S2, S3}},
        {{S1, S4, S0}, {S0, S1, S4}},
        {{S0, S1}, {S0, S1}},
        {{S1, S0}, {S0, S1}},
        {{S1, S2}, {S1, S2}}, // the second alone goes first
        {{S8, S0}, {S0, S8}},
        {{"/dev/ttyUSB0", "/dev/ttyACM0"}, {"/dev/ttyUSB0", "/dev/ttyACM0"}},
        {{}, {}},
        // Exact, case-sensitive: these are ordinary names.
        {{"/dev/ttys0", S1, "ttyS0", "/dev/ttyS0 "}, {S1, "/dev/ttys0", "ttyS0", "/dev/ttyS0 "}},
        // Not de-duplicated.
        {{S0, "/dev/ttyUSB0", S0}, {S0, S0, "/dev/ttyUSB0"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Ordered(c.met), c.offered);
    }
}

TEST(DeviceOrder, CallingAgainReplacesTheList) {
    DeviceList list{"left over"};
    OrderDeviceNames({S1, S0}, list);
    OrderDeviceNames({S2}, list);
    EXPECT_EQ(ListOf(list), Names{S2});
}

TEST(DeviceOrder, NaturalOrderComparesNumbersByValue) {
    const Names sorted = {"ttyACM0", "ttyACM2",  "ttyACM10", "ttyS",   "ttyS0",   "ttyS01",
                          "ttyS1",   "ttyS2",    "ttyS10",   "ttyS99", "ttyS100", "ttyUSB",
                          "ttyUSB0", "ttyUSB1a", "ttyUSB1b", "ttyUSB9"};
    Names shuffled = sorted;
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::shuffle(shuffled.begin(), shuffled.end(), random);
        std::sort(shuffled.begin(), shuffled.end(),
                  [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
        ASSERT_EQ(shuffled, sorted);
    }
    for (const std::string& name : sorted) {
        EXPECT_FALSE(NaturalLess(name, name));
    }
}

// A sysfs tty directory built by the test.
class SysfsTree : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrane-sysfs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        top = pattern;
        root = top / "class" / "tty";
        fs::create_directories(root);
        fs::create_directories(top / "drivers" / "serial8250");
        fs::create_directories(top / "drivers" / "usb");
    }
    void TearDown() override { fs::remove_all(top); }

    // A terminal; with a driver, its device/driver link points at that driver.
    void AddTty(const std::string& name, const char* driver = nullptr,
                const char* uartType = nullptr) {
        const fs::path entry = root / name;
        fs::create_directories(entry);
        if (driver != nullptr) {
            fs::create_directories(entry / "device");
            fs::create_directory_symlink(top / "drivers" / driver, entry / "device" / "driver");
        }
        if (uartType != nullptr) {
            std::ofstream(entry / "type") << uartType << "\n";
        }
    }

    bool Enumerate(DeviceList& list, const char* extra = nullptr) {
        return EnumerateSerialDevices(list, root.string(), extra);
    }

    fs::path top;
    fs::path root;
};

TEST_F(SysfsTree, OffersDriverBackedPortsInNaturalOrder) {
    AddTty("console");
    AddTty("tty0");
    AddTty("tty12");
    AddTty("ptmx");
    AddTty("ttyUSB0", "usb");
    AddTty("ttyACM0", "usb");
    AddTty("ttyS10", "serial8250", "4");
    AddTty("ttyS2", "serial8250", "4");
    AddTty("ttyS0", "serial8250", "4");
    AddTty("ttyS3", "serial8250");      // type not readable: still offered
    AddTty("ttyS1", "serial8250", "0"); // reserved, no UART behind it
    AddTty("ttyS4", "serial8250", "0");
    AddTty("ttySAC0", "serial8250", "0"); // not a legacy name: type not consulted

    DeviceList list{"left over"};
    ASSERT_TRUE(Enumerate(list));
    EXPECT_EQ(ListOf(list),
              (Names{S0, "/dev/ttyACM0", S2, S3, "/dev/ttyS10", "/dev/ttySAC0", "/dev/ttyUSB0"}));
}

TEST_F(SysfsTree, BothFirstPortsLeadTheList) {
    AddTty("ttyUSB1", "usb");
    AddTty("ttyS1", "serial8250", "4");
    AddTty("ttyAMA0", "usb");
    AddTty("ttyS0", "serial8250", "4");
    DeviceList list;
    ASSERT_TRUE(Enumerate(list));
    EXPECT_EQ(ListOf(list), (Names{S0, S1, "/dev/ttyAMA0", "/dev/ttyUSB1"}));
}

TEST_F(SysfsTree, AMissingDriverLinkTargetLeavesThePortOut) {
    AddTty("ttyUSB3");
    fs::create_directories(root / "ttyUSB3" / "device");
    fs::create_directory_symlink(top / "drivers" / "gone", root / "ttyUSB3" / "device" / "driver");
    DeviceList list;
    ASSERT_TRUE(Enumerate(list));
    EXPECT_TRUE(list.empty());
}

TEST_F(SysfsTree, ExtraPortsFollowInTheirOrder) {
    AddTty("ttyUSB0", "usb");
    DeviceList list;
    ASSERT_TRUE(Enumerate(list, ":/dev/pts/7::/dev/pts/3:"));
    EXPECT_EQ(ListOf(list), (Names{"/dev/ttyUSB0", "/dev/pts/7", "/dev/pts/3"}));

    ASSERT_TRUE(Enumerate(list, ""));
    EXPECT_EQ(ListOf(list), Names{"/dev/ttyUSB0"});
    ASSERT_TRUE(Enumerate(list, ":::"));
    EXPECT_EQ(ListOf(list), Names{"/dev/ttyUSB0"});
}

TEST_F(SysfsTree, AnEmptyDirectoryIsAnEmptyListAndAMissingOneAFailure) {
    DeviceList list{"left over"};
    ASSERT_TRUE(Enumerate(list));
    EXPECT_TRUE(list.empty());
    ASSERT_TRUE(Enumerate(list, "/dev/pts/5"));
    EXPECT_EQ(ListOf(list), Names{"/dev/pts/5"});

    list = {"left over"};
    EXPECT_FALSE(EnumerateSerialDevices(list, (top / "no-such-dir").string(), "/dev/pts/5"));
    EXPECT_TRUE(list.empty());

    std::ofstream(top / "a-file") << "x";
    list = {"left over"};
    EXPECT_FALSE(EnumerateSerialDevices(list, (top / "a-file").string(), nullptr));
    EXPECT_TRUE(list.empty());
}

} // namespace
