// UTF-8, the text of every other part of this system, and UTF-16, the text
// of the Win32 calls: the one conversion each way on Windows, and the
// program's arguments read through it. What is not valid (malformed UTF-8, a
// lone surrogate in UTF-16) is refused, never replaced or guessed at, so that
// a file name never turns into another one.
#ifndef VELTRANE_TEXT_UTF16_H
#define VELTRANE_TEXT_UTF16_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The UTF-16 form of utf8, or nothing when utf8 is not valid UTF-8.
std::optional<std::wstring> WideFromUtf8(std::string_view utf8);

// The UTF-8 form of wide, or nothing when wide is not valid UTF-16.
std::optional<std::string> Utf8FromWide(std::wstring_view wide);

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

#endif
