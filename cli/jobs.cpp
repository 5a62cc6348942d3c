#include "cli/jobs.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "app/encrypt_command.h"
#include "cli/console.h"
#include "cli/nls.h"
#include "cli/password_input.h"
#include "codec/enn.h"
#include "crypto/wipe.h"

namespace {

void Fail(const std::string& file, const std::string& what) {
    PrintErr("enn: " + file + ": " + what + "\n");
}

// text with its "%s" replaced by value: word order differs between languages.
std::string Fill(const char* text, const std::string& value) {
    std::string out = text;
    const size_t at = out.find("%s");
    return at == std::string::npos ? out : out.replace(at, 2, value);
}

// Paths are UTF-8; u8path keeps them so on Windows, whose narrow calls would
// take them in the ANSI code page.
namespace fs = std::filesystem;

// path as a file-system path; one that is not UTF-8 (which u8path refuses by
// throwing on Windows) becomes an empty path, which names no file.
fs::path PathOf(const std::string& path) {
    try {
        return fs::u8path(path);
    } catch (const std::exception&) {
        return fs::path();
    }
}

// Why path cannot be read as a file, or "" when it can.
std::string Unreadable(const std::string& path) {
    std::error_code error;
    const fs::file_status st = fs::status(PathOf(path), error);
    if (error) {
        return Fill(_("cannot open: %s"), error.message());
    }
    if (fs::is_directory(st)) {
        return _("is a directory, not a file");
    }
    if (!fs::is_regular_file(st)) {
        return _("is not a regular file");
    }
    std::ifstream in(PathOf(path), std::ios::binary);
    if (!in) {
        return Fill(_("cannot open: %s"), std::strerror(errno));
    }
    return "";
}

bool IsDirectory(const std::string& path) {
    std::error_code error;
    return fs::is_directory(PathOf(path), error);
}

// The size of the file at path, or -1 when it has none.
long long SizeOf(const std::string& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(PathOf(path), error);
    return error ? -1 : static_cast<long long>(size);
}

// What is wrong with the container at path, by the codec's fault.
std::string ContainerProblem(const std::string& path, int fault) {
    switch (fault) {
        case ENN_FAULT_NO_INPUT:
        case ENN_FAULT_INPUT_DENIED:
        case ENN_FAULT_INPUT_FOLDER:
        case ENN_FAULT_INPUT_NOT_REGULAR: {
            const std::string why =
                IsDirectory(path) ? _("is a directory, not a container") : Unreadable(path);
            return why.empty() ? _("cannot open") : why;
        }
        case ENN_FAULT_READ:
            return _("cannot read: a read failed part-way");
        case ENN_FAULT_DIGEST:
            return _("damaged: the digest header does not match the content");
        case ENN_FAULT_FOREIGN_KEY:
            return _("written under another key: its password chunk does not decode");
        default: {
            const long long size = SizeOf(path);
            if (size >= 0 && !EnnIsContainerSize(size)) {
                return _("damaged: its size does not fit the chunk layout");
            }
            return _("damaged: a chunk is not laid out as the encoder writes it");
        }
    }
}

// What keeps output from receiving the plain file, by the codec's fault.
std::string OutputProblem(const std::string& output, int fault) {
    switch (fault) {
        case ENN_FAULT_EXISTS:
            return _("already exists; use --force to replace it");
        case ENN_FAULT_SAME_FILE:
            return _("is the container itself; not replaced");
        case ENN_FAULT_OUTPUT_FOLDER:
        case ENN_FAULT_NOT_REGULAR:
            return IsDirectory(output) ? _("is a directory; name the plain file with -o")
                                       : _("is not a regular file; not replaced");
        case ENN_FAULT_DISK_FULL:
        case ENN_FAULT_WRITE:
            return _("cannot write (is the disk full?); nothing written");
        default:
            return _("cannot create: its folder takes no new file");
    }
}

bool IsOutputFault(int fault) {
    return fault == ENN_FAULT_EXISTS || fault == ENN_FAULT_SAME_FILE ||
           fault == ENN_FAULT_NOT_REGULAR || fault == ENN_FAULT_NO_OUTPUT ||
           fault == ENN_FAULT_WRITE || fault >= ENN_FAULT_OUTPUT_FOLDER;
}

#ifndef _WIN32
// A plain file being written aside must not outlive an interrupted enn.
void DiscardAsideAndDie(int sig) {
    EnnDiscardAllAside();
    signal(sig, SIG_DFL);
    raise(sig);
}

// Holds the cleaning handlers for as long as a file is being written.
class CleanUpOnSignals {
  public:
    CleanUpOnSignals() {
        struct sigaction clean = {};
        clean.sa_handler = DiscardAsideAndDie;
        sigemptyset(&clean.sa_mask);
        for (int i = 0; i < kCount; ++i) {
            sigaction(kSignals[i], &clean, &previous_[i]);
        }
    }
    ~CleanUpOnSignals() {
        for (int i = 0; i < kCount; ++i) {
            sigaction(kSignals[i], &previous_[i], nullptr);
        }
    }

  private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    static constexpr int kCount = 3;
    struct sigaction previous_[kCount];
};
#else
// On Windows the codec marks its aside files for deletion until they are put
// in place, so the system removes them however the process ends.
class CleanUpOnSignals {
  public:
    CleanUpOnSignals() {}
};
#endif

}  // namespace

int VerifyContainers(const std::vector<std::string>& paths) {
    int status = kExitOk;
    for (const std::string& path : paths) {
        int fault = ENN_FAULT_NONE;
        {
            BuiltInKey key;
            EnnDecryptFileEx(key.get(), path.c_str(), nullptr, ENN_KEEP_EXISTING, &fault);
        }
        if (fault == ENN_FAULT_NONE) {
            PrintOut(path + ": " + _("intact") + "\n");
        } else {
            Fail(path, ContainerProblem(path, fault));
            status = kExitFailed;
        }
    }
    return status;
}

int DecryptContainer(const std::string& container, const std::string& output, bool force) {
    if (output.empty() || output.back() == '/') {
        Fail(output, _("names a directory, not a file"));
        return kExitFailed;
    }
    int fault = ENN_FAULT_NONE;
    int result;
    {
        CleanUpOnSignals cleaning;
        BuiltInKey key;
        result = EnnDecryptFileEx(key.get(), container.c_str(), output.c_str(),
                                  force ? ENN_REPLACE_EXISTING : ENN_KEEP_EXISTING, &fault);
    }
    if (result == ENN_OK) {
        PrintOut(container + ": " + Fill(_("decrypted to %s"), output) + "\n");
        return kExitOk;
    }
    if (result == ENN_ERR_DIGEST) {
        PrintOut("\n");  // ends the decoder's own diagnostic line
    }
    if (IsOutputFault(fault)) {
        Fail(output, OutputProblem(output, fault));
    } else {
        Fail(container,
             ContainerProblem(container, fault) + "; " + Fill(_("%s not written"), output));
    }
    return kExitFailed;
}

int PrintPassword(const std::string& container) {
    char password[7] = {};
    int result;
    {
        BuiltInKey key;
        result = EnnReadPassword(key.get(), container.c_str(), password);
    }
    if (result == ENN_OK) {
        PrintOut(std::string(password) + "\n");
        SecureWipe(password, sizeof password);
        return kExitOk;
    }
    const long long size = SizeOf(container);
    if (result == ENN_ERR_OPEN_INPUT) {
        Fail(container, ContainerProblem(container, ENN_FAULT_NO_INPUT));
    } else if (size >= 0 && size < ENN_PAYLOAD_OFFSET) {
        Fail(container, _("damaged: too short to hold a password"));
    } else {
        Fail(container, ContainerProblem(container, ENN_FAULT_FOREIGN_KEY));
    }
    return kExitFailed;
}

int EncryptWithCommand(const std::string& path, bool passwordFromStdin) {
    EncryptFields fields;
    fields.path.text = path;
    if (passwordFromStdin) {
        fields.password.text = ReadPasswordLine(fileno(stdin));
        fields.confirm.text = ReadPasswordLine(fileno(stdin));
    } else if (!AskPasswordOnTerminal(&fields.password.text, &fields.confirm.text)) {
        PrintErr(std::string("enn encrypt: ") +
                 _("no terminal to ask for the password on; use --password-stdin") + "\n");
        return kExitUsage;
    }
    int fault = ENN_FAULT_NONE;
    int result;
    {
        CleanUpOnSignals cleaning;
        // A file name is taken as it is given; only the window trims its field.
        result = RunEncryptCommand(fields, kPathAsGiven, &fault);
    }
    SecureWipe(fields.password.text.data(), fields.password.text.size());
    SecureWipe(fields.confirm.text.data(), fields.confirm.text.size());

    if (result == ENN_OK) {
        PrintOut(fields.status.text + "\n");
        return kExitOk;
    }
    std::string message = fields.status.text;
    // The command's message is the window's; the reason after it is for the shell.
    const std::string out = ContainerPathFor(path);
    switch (fault) {
        case ENN_FAULT_NO_INPUT:
        case ENN_FAULT_INPUT_DENIED:
        case ENN_FAULT_INPUT_FOLDER:
        case ENN_FAULT_INPUT_NOT_REGULAR: {
            const std::string why = Unreadable(path);
            message += " (" + (why.empty() ? std::string(_("cannot be read")) : why) + ")";
            break;
        }
        case ENN_FAULT_NOT_REGULAR:
        case ENN_FAULT_SAME_FILE:
        case ENN_FAULT_NO_OUTPUT:
        case ENN_FAULT_WRITE:
        case ENN_FAULT_OUTPUT_FOLDER:
        case ENN_FAULT_NAME_TOO_LONG:
        case ENN_FAULT_DENIED:
        case ENN_FAULT_READ_ONLY:
        case ENN_FAULT_NO_FOLDER:
        case ENN_FAULT_DISK_FULL:
            message += " (" + out + " " + OutputProblem(out, fault) + ")";
            break;
        case ENN_FAULT_READ:
            message += std::string(" (") + _("a read failed part-way") + ")";
            break;
        case ENN_FAULT_CHANGED:
            message += std::string(" (") +
                       _("the file changed while it was read; try again once it is complete") + ")";
            break;
        default:
            break;
    }
    if (path.empty()) {
        PrintErr("enn: " + message + "\n");
    } else {
        Fail(path, message);
    }
    return kExitFailed;
}
