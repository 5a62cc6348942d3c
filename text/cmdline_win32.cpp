// The command line read through the one conversion; apart from it, so that
// what only converts text does not import shell32.
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include "text/utf16.h"

std::vector<std::string> SplitCommandLine(const wchar_t* commandLine, bool* refused) {
    std::vector<std::string> args;
    // CommandLineToArgvW answers an empty line with the program's own path.
    if (commandLine == nullptr || *commandLine == L'\0') {
        return args;
    }
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(commandLine, &count);
    if (wide == nullptr) {
        return args;
    }
    for (int i = 0; i < count; ++i) {
        const std::optional<std::string> arg = Utf8FromWide(wide[i]);
        if (!arg) {
            if (refused != nullptr) {
                *refused = true;
            }
            args.clear();
            break;
        }
        args.push_back(*arg);
    }
    LocalFree(wide);
    return args;
}

std::vector<std::string> CommandLineArguments(bool* refused) {
    return SplitCommandLine(GetCommandLineW(), refused);
}
