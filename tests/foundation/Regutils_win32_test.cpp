// The device list from the registry: a tree of the test's own under HKEY_CURRENT_USER
// with HARDWARE\DEVICEMAP\SERIALCOMM below it, and the machine's own map, in which the
// test run has mapped COM ports (KESTRANE_TEST_MAPPED_PORTS, colon-separated).

#include "connect/Regutilswin32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Value {
    std::string name;
    std::string data;
};

class RegistryTree : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = "Software\\KestraneTests\\" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &root_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(root_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    }
    // Creates HARDWARE\DEVICEMAP\SERIALCOMM with values, in this order.
    void MakeSerialComm(const std::vector<Value>& values) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(root_, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        for (const Value& v : values) {
            ASSERT_EQ(RegSetValueExA(key, v.name.c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(v.data.c_str()),
                                     static_cast<DWORD>(v.data.size() + 1)),
                      ERROR_SUCCESS);
        }
        RegCloseKey(key);
    }
    static std::vector<Value> Ports(const std::vector<std::string>& names) {
        std::vector<Value> values;
        for (std::size_t i = 0; i < names.size(); ++i) {
            values.push_back({"\\Device\\Serial" + std::to_string(i), names[i]});
        }
        return values;
    }

    std::string path_;
    HKEY root_ = nullptr;
};

DeviceList List(const std::vector<std::string>& names) {
    return DeviceList(names.begin(), names.end());
}

struct OrderCase {
    std::vector<std::string> met;
    std::vector<std::string> offered;
};

class RegistryOrder : public RegistryTree, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(RegistryOrder, PutsCom1AndCom2FirstAndKeepsTheRestInRegistryOrder) {
    MakeSerialComm(Ports(GetParam().met));
    DeviceList list{"stale"};
    ASSERT_TRUE(EnumerateSerialDevicesUnder(root_, list));
    EXPECT_EQ(list, List(GetParam().offered));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryOrder,
    ::testing::Values(OrderCase{{"COM3", "COM1", "COM4", "COM2"}, {"COM1", "COM2", "COM3", "COM4"}},
                      OrderCase{{"COM2", "COM5", "COM1"}, {"COM1", "COM2", "COM5"}},
                      OrderCase{{"COM2", "COM3"}, {"COM2", "COM3"}},
                      OrderCase{{"COM9", "com1", "COM1"}, {"COM1", "COM9", "com1"}}));

TEST_F(RegistryTree, AMissingKeyGivesNoAndAnEmptyKeyYes) {
    DeviceList list{"stale"};
    EXPECT_FALSE(EnumerateSerialDevicesUnder(root_, list));
    EXPECT_TRUE(list.empty());

    MakeSerialComm({});
    list = {"stale"};
    EXPECT_TRUE(EnumerateSerialDevicesUnder(root_, list));
    EXPECT_TRUE(list.empty());
}

TEST_F(RegistryTree, AValueTooLongForItsRoomBreaksTheWholeListOff) {
    const std::string longest(kDeviceNameCapacity - 1, 'X'); // and its terminator: all the room
    MakeSerialComm(Ports({"COM3", longest, "COM4"}));
    DeviceList list;
    ASSERT_TRUE(EnumerateSerialDevicesUnder(root_, list));
    EXPECT_EQ(list, List({"COM3", longest, "COM4"}));

    MakeSerialComm({{"\\Device\\Serial9", longest + "X"}});
    list = {"stale"};
    EXPECT_FALSE(EnumerateSerialDevicesUnder(root_, list));
    EXPECT_TRUE(list.empty());
}

TEST(MachineSerialMap, OffersThePortsMappedForTheTestRunInTheirOrder) {
    const char* mapped = std::getenv("KESTRANE_TEST_MAPPED_PORTS");
    ASSERT_NE(mapped, nullptr) << "KESTRANE_TEST_MAPPED_PORTS is not set";
    std::vector<std::string> expected;
    for (std::string rest = mapped; !rest.empty();) {
        const std::size_t colon = rest.find(':');
        expected.push_back(rest.substr(0, colon));
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    DeviceList list;
    ASSERT_TRUE(EnumerateSerialDevices(list));
    std::vector<std::string> seen;
    for (const std::string& name : list) {
        for (const std::string& want : expected) {
            if (name == want) {
                seen.push_back(name);
            }
        }
    }
    EXPECT_EQ(seen, expected);
    // COM1, when the machine has one, comes first whatever the registry's order.
    for (std::size_t i = 1; i < list.size(); ++i) {
        EXPECT_NE(list[i], "COM1");
    }
}

} // namespace
