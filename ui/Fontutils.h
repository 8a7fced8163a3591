#pragma once
// A readable font where the system's is not.
//
// On Windows the windows use the system's own dialog font. Wine, which runs the Windows
// build on Linux (the tests do), maps that font to one that draws every character as
// the same symbol, so nothing on screen can be read. There, and only there, the program
// takes DejaVu Sans from its own resources as its font. On Linux and on a real Windows
// nothing changes.

// Call once the QApplication exists, before any window is made.
void UseReadableFont();

// Whether the program runs under wine.
bool RunningUnderWine();
