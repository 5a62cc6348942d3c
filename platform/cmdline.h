// The program's command line: what it asks for, and the file it names for
// the main window.
#ifndef VELTRANE_PLATFORM_CMDLINE_H
#define VELTRANE_PLATFORM_CMDLINE_H

#include <string>
#include <vector>

#include "platform/afxwin.h"

struct AfxCommandLine {
    enum class Action {
        Run,      // open the window, with file in it when one is given
        Version,  // --version alone
        Help,     // --help alone
    };
    Action action = Action::Run;
    std::string file;
    // The arguments the window leaves aside, as one line: unknown options,
    // empty names, and both files when two or more are named. Empty for none.
    std::string ignored;
};

// Reads the arguments after the program's name. --help or --version alone
// asks for that; otherwise the window runs whatever else is there, with the
// file in it when exactly one is named (after "--" when it starts with '-').
AfxCommandLine AfxParseCommandLine(const std::vector<std::string>& args);

// The short usage --help prints, ending in a line feed; the program's name
// is the first word of the resource table's version line.
std::string AfxUsage();

// Does what the command line asks before any window: prints the version or
// the usage on standard output and returns true with exit status 0 in
// *status. When the window is to run, returns false, after one line on
// standard error that names the arguments it leaves aside, if any.
bool AfxAnswerCommandLine(const AfxCommandLine& line, int* status);

// The start of each side's AfxWinMain: reads the arguments after the
// program's name, answers what needs no window (AfxAnswerCommandLine) and
// keeps the file named for the main window. Returns the application to run,
// or null with the exit status in *status (1 when there is no application).
CWinApp* AfxStartFromCommandLine(const std::vector<std::string>& args, int* status);

// The file the main window opens with; empty for none.
void AfxSetStartFile(const std::string& path);

// Once the dialog's OnInitDialog has run: if it is the application's main
// window and a start file is set, hands the window that file as a drop of
// one file (WM_DROPFILES, as if it was dropped on it), forgets it, and puts
// the focus on the first edit field in tab order that is still empty.
// Returns true when it moved the focus.
bool AfxOpenStartFile(CDialog* dialog);

// Each toolkit side: a drop of one file, its path made full; and its end.
HDROP AfxMakeDrop(const std::string& path);
void AfxFreeDrop(HDROP drop);

#endif
