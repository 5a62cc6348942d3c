// The Windows side of enn's console text (cli/console.h); the arguments as
// UTF-8 come from text/utf16.h.
#ifndef VELTRANE_CLI_CONSOLE_WIN32_H
#define VELTRANE_CLI_CONSOLE_WIN32_H

#include <cstdio>
#include <string>
#include <vector>

#include "text/utf16.h"

// Writes text, UTF-8, to stream, whose Windows handle (a HANDLE) is handle. A console gets it as
// UTF-16 (WriteConsoleW), so that every character shows whatever the console's code page; a file or
// a pipe gets the UTF-8 bytes as they are. False when the text could not be written.
bool PrintTo(std::FILE* stream, void* handle, const std::string& text);

#endif
