#pragma once
// Creating the program's windows. Every window is created once, all of them at
// start-up and in a fixed order, and lives until the end of the run:
//   main window, About, Open Port, Receiver Setup, Help, note, wait, Load Software,
//   Receiver Status.
// The main window comes first so that it exists when the Open Port dialog's
// constructor has it show the port's initial state, and the Receiver Setup dialog
// registers itself for the receiver's reports when it is built.

// app/ is the top of the program: only the program itself and what tests or measures it
// as a whole may see it (the build gives them KESTRANE_APP_VISIBLE).
#ifndef KESTRANE_APP_VISIBLE
#error "app/ stands above every other folder: nothing below it may include it"
#endif

#include <string>

#include "connect/Regutils.h"

// Gives the application its name, version, desktop entry and window icon, the same
// ones the installed desktop entry and package carry.
void SetApplicationIdentity();

// Creates every window and sets its global instance (FormMain, FormAbout, ...).
// sysfsRoot is where the Open Port dialog lists the serial devices (tests give a
// folder of their own).
void CreateWindows(const std::string& sysfsRoot = kDefaultSysfsTtyRoot);

// Deletes the windows in the reverse order and clears the globals.
void DestroyWindows();
