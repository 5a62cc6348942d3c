#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/console.h"
#include "cli/nls.h"

void PrintOut(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);  // keeps the order of lines on both streams
}

void PrintErr(const std::string& text) {
    std::fputs(text.c_str(), stderr);
}

void StartTranslations() {
#ifdef VELTRANE_NLS
    std::setlocale(LC_ALL, "");
    // Beside the program first, so that a build tree and a moved install
    // both find their own catalogue.
    char self[PATH_MAX];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = VELTRANE_LOCALEDIR;
    if (len > 0) {
        std::string exe(self, static_cast<size_t>(len));
        const std::string beside = exe.substr(0, exe.rfind('/')) + "/../share/locale";
        if (access(beside.c_str(), X_OK) == 0) {
            dir = beside;
        }
    }
    bindtextdomain("enn", dir.c_str());
    bind_textdomain_codeset("enn", "UTF-8");
    textdomain("enn");
#endif
}
