#pragma once
// The program's receive step, the same one the main window's 100 ms tick takes
// (proto/Pollport.h): read whatever the port holds without waiting (at most one block),
// give every byte first to the binary framer and then to the line framer of the port
// manager, and hand each completed frame and line to the command's sink, in byte order.

#include "proto/Pollport.h"

// One tick on CommPort. False when the port is closed or the device went away (a
// hung-up line, after which the port is closed). A closed port reads nothing.
bool ReceiveTick(PollSink& sink);
