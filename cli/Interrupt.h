#pragma once
// Ctrl-C for the commands that run until stopped (monitor) or that must end cleanly when
// stopped (load): Ctrl-C (SIGINT; in a Windows console also Ctrl-Break) then only sets a
// flag, which the command reads between ticks, so it can put things right (close the
// log, restore the port's rate) before it exits.

// From now on Ctrl-C sets the flag instead of ending the program.
void CatchInterrupt();
// Ctrl-C has arrived since CatchInterrupt.
bool Interrupted();
