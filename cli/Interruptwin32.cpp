// Ctrl-C and Ctrl-Break in a Windows console.
#include "cli/Interrupt.h"

#include <atomic>

#include <windows.h>

namespace {

std::atomic<bool> interrupted{false};

// Runs on a thread of its own that the console starts; the command's ticks see the flag.
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        interrupted = true;
        return TRUE;
    }
    return FALSE; // closing the console or logging off ends the program as usual
}

} // namespace

void CatchInterrupt() {
    interrupted = false;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool Interrupted() {
    return interrupted;
}
