// Getting the password and its confirmation for `enn encrypt`, either from the
// terminal with echo off or from standard input for scripts.
#ifndef VELTRANE_CLI_PASSWORD_INPUT_H
#define VELTRANE_CLI_PASSWORD_INPUT_H

#include <cstdio>
#include <string>

// Lines longer than this are cut here; anything that long fails the
// six-digit check anyway, and the cut keeps a runaway input from filling memory.
constexpr std::size_t kMaxPasswordLine = 256;

// Reads one line from fd without its line feed (and a carriage return before
// it), and nothing after it. At the end of input it yields what was there,
// possibly "".
std::string ReadPasswordLine(int fd);

// Asks for the password and then its confirmation on the controlling terminal
// with echo turned off, restoring the terminal afterwards, also when the
// process is interrupted meanwhile. Returns false, having asked nothing, when
// the process has no terminal.
bool AskPasswordOnTerminal(std::string* password, std::string* confirm);

#endif
