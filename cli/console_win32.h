// The Windows side of enn's console text (cli/console.h), and what only
// Windows needs: the arguments as UTF-8.
#ifndef VELTRANE_CLI_CONSOLE_WIN32_H
#define VELTRANE_CLI_CONSOLE_WIN32_H

#include <cstdio>
#include <string>
#include <vector>

// Splits a command line by Windows' rules (CommandLineToArgvW) into UTF-8
// arguments, the program name first. An argument that is not valid UTF-16
// (a lone surrogate) cannot be spelt in UTF-8: then *refused (when given) is
// set and the list is empty.
std::vector<std::string> SplitCommandLine(const wchar_t* commandLine, bool* refused = nullptr);

// The program's arguments, its name first, as UTF-8 from the wide command
// line: argv on Windows is in the ANSI code page, which loses every character
// it cannot spell.
// refused as for SplitCommandLine.
std::vector<std::string> CommandLineArguments(bool* refused = nullptr);

// Writes text, UTF-8, to stream, whose Windows handle (a HANDLE) is handle. A console gets it as
// UTF-16 (WriteConsoleW), so that every character shows whatever the console's code page; a file or
// a pipe gets the UTF-8 bytes as they are. False when the text could not be written.
bool PrintTo(std::FILE* stream, void* handle, const std::string& text);

#endif
