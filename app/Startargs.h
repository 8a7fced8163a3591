#pragma once
// The window program's start-up arguments:
//
//   kestrane-utility [--port DEVICE [--baud RATE]] [--help]
//
// Without them the program starts as it always has, with no port open. With --port the
// device is opened once the main window and its splash are up, as the Open Port dialog's
// Apply opens one with device and rate on Manual (a device that will not open gets the
// same note); --baud is one of the rates the dialog offers, 19200 when not given. An
// option's value may also follow it after "=". The toolkit takes its own options
// (-platform, -style, ...) out of the command line before these are read.
//
// What is not one of these is a usage error: a message and exit status 2 before any
// window is made, so a script or a desktop entry that passes a wrong rate finds out.

// app/ is the top of the program: only the program itself and what tests or measures it
// as a whole may see it (the build gives them KESTRANE_APP_VISIBLE).
#ifndef KESTRANE_APP_VISIBLE
#error "app/ stands above every other folder: nothing below it may include it"
#endif

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kStartUsageExit = 2;

struct StartArguments {
    enum class Action : std::uint8_t {
        Run,     // start the program; device, when not empty, is opened at baud
        Help,    // print the usage text and end with status 0
        Refused, // a usage error: print error and end with kStartUsageExit
    };
    Action action = Action::Run;
    std::string device;
    std::uint32_t baud = 19200;
    std::string error; // the usage error's message, without the program's name
};

// Reads the arguments that follow the program's name.
StartArguments ParseStartArguments(const std::vector<std::string>& args);

// What --help prints.
std::string StartUsageText();
