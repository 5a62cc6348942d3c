// The Windows side of cli/console.h, split out where it can be tested alone.
#ifndef VELTRANE_CLI_CONSOLE_WIN32_H
#define VELTRANE_CLI_CONSOLE_WIN32_H

#include <string>
#include <vector>

// UTF-16 to UTF-8 and back; characters that cannot be converted (a lone
// surrogate, a broken UTF-8 sequence) become U+FFFD.
std::string Utf8FromWide(const std::wstring& wide);
std::wstring WideFromUtf8(const std::string& utf8);

// Splits a command line by Windows' rules (CommandLineToArgvW) into UTF-8
// arguments, the program name first.
std::vector<std::string> SplitCommandLine(const wchar_t* commandLine);

#endif
