#pragma once
// What the wine tests share: the test run maps a COM port (KESTRANE_WINE_RECEIVER_PORT)
// to a link (KESTRANE_WINE_RECEIVER_LINK), which each test points at the receiver it
// starts (or at a pseudo-terminal of its own), so every byte goes through the Windows
// program's Win32 serial port and wine's serial driver; and the Windows programs are run
// under wine (KESTRANE_WINE) with the test's environment.

#include "tests/cli/Cliprocess.h"

#include "sim/Simreceiver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline const Bytes kRequestConfig = {0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x04, 0x9F, 0xA9, 0x0D, 0x0A};
inline const Bytes kRequestCorrections = {0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x01, 0x3A, 0xF9, 0x0D, 0x0A};

inline std::string Setting(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

class WineReceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Setting("KESTRANE_WINE").empty()) << "run from scripts/wine-test.sh";
        ASSERT_FALSE(port_.empty());
        ASSERT_FALSE(link_.empty());
    }
    // Points the COM port at a device, replaced in one step so it never points at nothing.
    void PointPortAt(const std::string& device) {
        const std::string fresh = link_ + ".new";
        std::remove(fresh.c_str());
        ASSERT_EQ(symlink(device.c_str(), fresh.c_str()), 0);
        ASSERT_EQ(std::rename(fresh.c_str(), link_.c_str()), 0);
    }
    void StartReceiver(const SimOptions& options) {
        receiver_ = std::make_unique<SimReceiver>(options);
        ASSERT_TRUE(receiver_->Start());
        PointPortAt(receiver_->DevicePath());
    }
    // Runs a Windows program (its path first in command) under wine.
    CliResult RunWindowsProgram(std::vector<std::string> command,
                                const std::function<void(pid_t, const CliResult&)>& during = {}) {
        command.insert(command.begin(), Setting("KESTRANE_WINE"));
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e)
            env.emplace_back(*e);
        return RunProgram(command, env, std::chrono::seconds(300), during);
    }

    std::string port_ = Setting("KESTRANE_WINE_RECEIVER_PORT");
    std::string link_ = Setting("KESTRANE_WINE_RECEIVER_LINK");
    std::unique_ptr<SimReceiver> receiver_;
};
