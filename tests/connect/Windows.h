#pragma once
// The program's windows for the connection window tests, created in start-up order over
// a device list that the test controls: the extra ports it names and an empty sysfs
// directory, never the machine's own serial ports. The main window's timer is stopped;
// tests run its tick themselves (Tick, TickUntil) so that a FakeClock can drive the search.

#include "base/Clock.h"
#include "app/Mainform.h"
#include "app/Startup.h"
#include "connect/Portform.h"
#include "loader/Loadsetupform.h"
#include "proto/Port.h"
#include "receiver/Rcvrportform.h"
#include "tests/common/Tempdir.h"
#include "tests/connect/Controls.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Noteform.h"
#include "ui/Waitform.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

class TestWindows {
public:
    explicit TestWindows(const std::vector<std::string>& ports) {
        std::string joined;
        for (const std::string& p : ports)
            joined += (joined.empty() ? "" : ":") + p;
        setenv(kExtraPortsVariable, joined.c_str(), 1);
        CommPort.Close();
        // No partial frame or line of an earlier test may run into this one.
        DiagFramer.Reset();
        LineFramer.Reset();
        CreateWindows(sysfs_.path());
        FormMain->Timer->stop();
        FormPort->SetClock(clock);
    }
    ~TestWindows() {
        CommPort.Close();
        DestroyWindows();
        unsetenv(kExtraPortsVariable);
    }
    TestWindows(const TestWindows&) = delete;
    TestWindows& operator=(const TestWindows&) = delete;

    FakeClock clock;

private:
    EmptySysfs sysfs_;
};

inline void Pump() {
    QCoreApplication::processEvents();
}

// One tick of the main window, a few milliseconds of real time after the last.
inline void Tick() {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    FormMain->TimerTimer();
    Pump();
}

// Ticks until done holds; false if limit passes first.
inline bool TickUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Tick();
    }
    return true;
}
