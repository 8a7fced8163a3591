// kestrane-cli: see cli/Cli.h.

#include "cli/Cli.h"

#include <iostream>

#ifdef _WIN32
#include <windows.h>
#include <timeapi.h>
#else
#include <csignal>
#endif

int main(int argc, char** argv) {
#ifndef _WIN32
    // A reader that goes away (kestrane-cli load ... | head) must not kill the program in
    // the middle of its work: a write to the closed pipe fails instead, and each command
    // decides what that means (cli/Cli.h).
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef _WIN32
    // The load runs on millisecond ticks and waits of 10 ms; Windows' default timer
    // resolution (about 15 ms) would stretch every one of them.
    timeBeginPeriod(1);
#endif
    const int status = RunCli(argc, argv, std::cout, std::cerr);
#ifdef _WIN32
    timeEndPeriod(1);
#endif
    return status;
}
