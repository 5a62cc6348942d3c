// Where enn's words go. Texts are UTF-8.
#ifndef VELTRANE_CLI_CONSOLE_H
#define VELTRANE_CLI_CONSOLE_H

#include <string>

// Writes text to standard output, or to standard error, as it is.
void PrintOut(const std::string& text);
void PrintErr(const std::string& text);

#endif
