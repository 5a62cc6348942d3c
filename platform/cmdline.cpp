#include "platform/cmdline.h"

#include <cstdio>

namespace {

std::string& StartFile() {
    static std::string file;
    return file;
}

std::string ProgramName() {
    const std::string version = AfxPlatformText(&AFX_PLATFORM_TEXTS::version);
    return version.substr(0, version.find(' '));
}

}  // namespace

AfxCommandLine AfxParseCommandLine(const std::vector<std::string>& args) {
    AfxCommandLine line;
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "--version")) {
        line.action =
            args[0] == "--help" ? AfxCommandLine::Action::Help : AfxCommandLine::Action::Version;
        return line;
    }
    std::vector<std::string> files;
    std::vector<std::string> ignored;
    bool options = true;  // until "--"
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
        } else if (arg.empty() || (options && arg[0] == '-')) {
            ignored.push_back(arg);
        } else {
            files.push_back(arg);
        }
    }
    // Of two files neither is the one meant more than the other.
    if (files.size() == 1) {
        line.file = files[0];
    } else {
        ignored.insert(ignored.end(), files.begin(), files.end());
    }
    for (const std::string& arg : ignored) {
        std::string shown = arg.empty() ? "\"\"" : arg;
        // One line, whatever the arguments hold.
        for (char& c : shown) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                c = '?';
            }
        }
        line.ignored += (line.ignored.empty() ? "" : " ") + shown;
    }
    return line;
}

std::string AfxUsage() {
    const std::string name = ProgramName();
    return "用法：" + name + " [文件]\n" + "Usage: " + name +
           " [FILE]\n"
           "打开加密窗口；给出文件时，“文件路径”中已填好该文件。\n"
           "Opens the encryption window, with FILE in the path field when given.\n"
           "  --help     显示本帮助 (print this help)\n"
           "  --version  显示版本 (print the version)\n";
}

bool AfxAnswerCommandLine(const AfxCommandLine& line, int* status) {
    switch (line.action) {
        case AfxCommandLine::Action::Run:
            if (!line.ignored.empty()) {
                std::fprintf(stderr, "%s: 已忽略的参数 (arguments ignored): %s\n",
                             ProgramName().c_str(), line.ignored.c_str());
                std::fflush(stderr);
            }
            return false;
        case AfxCommandLine::Action::Version:
            std::printf("%s\n", AfxPlatformText(&AFX_PLATFORM_TEXTS::version));
            break;
        case AfxCommandLine::Action::Help:
            std::fputs(AfxUsage().c_str(), stdout);
            break;
    }
    std::fflush(stdout);
    *status = 0;
    return true;
}

CWinApp* AfxStartFromCommandLine(const std::vector<std::string>& args, int* status) {
    const AfxCommandLine line = AfxParseCommandLine(args);
    if (AfxAnswerCommandLine(line, status)) {
        return nullptr;
    }
    CWinApp* app = AfxGetApp();
    *status = 1;
    if (app != nullptr) {
        AfxSetStartFile(line.file);
    }
    return app;
}

void AfxSetStartFile(const std::string& path) {
    StartFile() = path;
}

bool AfxOpenStartFile(CDialog* dialog) {
    if (StartFile().empty() || AfxGetApp() == nullptr || AfxGetApp()->m_pMainWnd != dialog) {
        return false;
    }
    const std::string path = StartFile();
    StartFile().clear();
    if (HDROP drop = AfxMakeDrop(path)) {
        dialog->SendMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(drop));
        AfxFreeDrop(drop);
    }
    return dialog->FocusFirstEmptyEdit();
}
