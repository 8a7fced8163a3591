#pragma once
// Reading a small text file whole (a settings profile, a list of devices): at most a
// given number of bytes, so that a file far too large for what it should be is
// noticed rather than read into memory.

#include <cstddef>
#include <string>

// Reads the file at path into text, at most limit + 1 bytes: a text longer than limit
// means the file is longer. False, with the system's reason in error ("No such file or
// directory", "cannot be read: Is a directory"), when it cannot be opened or read.
bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& text,
                   std::string& error);
