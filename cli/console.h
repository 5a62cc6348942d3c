// enn's text in and out as UTF-8 on every platform: the arguments, and
// printing that shows any character on a Windows console as well.
#ifndef VELTRANE_CLI_CONSOLE_H
#define VELTRANE_CLI_CONSOLE_H

#include <cstdio>
#include <string>
#include <vector>

// Call first thing in main. Returns the arguments after the program name as
// UTF-8: on Windows taken from the wide command line (argv there is in the
// ANSI code page and loses what it cannot spell), elsewhere argv as given.
// Afterwards a line feed goes out as a single line feed on every platform, so
// that scripts read the same output everywhere.
std::vector<std::string> StartConsole(int argc, char** argv);

// Prints like std::fprintf, the text taken as UTF-8. A Windows console gets it
// as UTF-16 (WriteConsoleW), so that every character shows whatever the
// console's code page; anywhere else, and when redirected, the UTF-8 bytes go
// out as they are. Output already buffered in stream comes out first.
void ConsolePrintf(std::FILE* stream, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

#endif
