#include "cli/jobs.h"

#include <cstddef>
#include <cstdio>
#include <iterator>
#include <string>

#include "cli/console.h"
#include "cli/nls.h"
#include "cli/password_input.h"
#include "cli/progress.h"
#include "cli/text.h"
#include "codec/enn.h"
#include "command/encrypt_command.h"
#include "command/secret.h"

namespace {

// The name a message gives a file: standard input and output by their names.
std::string Shown(const std::string& path, bool output) {
    if (!IsStream(path)) {
        return path;
    }
    return output ? _("standard output") : _("standard input");
}

void Fail(const std::string& name, const std::string& what) {
    PrintErr("enn: " + name + ": " + what + "\n");
}

// What is wrong with a file that was to be read, by the codec's fault: the
// library's words, in enn's language.
std::string InputProblem(int fault) {
    return _(EnnFaultText(fault));
}

// What keeps output from receiving its file, by the codec's fault.
std::string OutputProblem(const std::string& output, int fault, const JobOptions& options) {
    if (IsStream(output)) {
        // The output waits whole in a temporary file first: a failure with
        // no error from standard output is that file's. Once bytes went out
        // they cannot be taken back; the reader is told how far they got.
        if (OutputBytes() > 0) {
            const std::string why = TakeOutputError();
            return Fill(_("received only the first %s bytes of the data, then %s; "
                          "discard them"),
                        {std::to_string(OutputBytes()),
                         why.empty() ? _("the temporary file could not be read back")
                                     : Fill(_("writing failed: %s"), {why})});
        }
        if (fault == ENN_FAULT_NO_OUTPUT) {
            return _("cannot be written: no temporary file can be made in the temporary folder");
        }
        if (fault == ENN_FAULT_DISK_FULL) {
            return _("cannot be written: the temporary folder is full; nothing written");
        }
        const std::string why = TakeOutputError();
        return why.empty() ? _("cannot be written: the temporary file could not be written; "
                               "nothing written")
                           : Fill(_("cannot be written: %s"), {why});
    }
    // The output enn chose itself beside the input: -o is how to name another.
    if (fault == ENN_FAULT_OUTPUT_FOLDER && !options.outputGiven) {
        return _("is a folder; name the output file with -o");
    }
    return _(EnnFaultText(fault));
}

// Tells of a failed job: the output's problem under the output's name, any
// other under the input's.
void FailJob(const std::string& input, const std::string& output, int fault,
             const JobOptions& options) {
    if (EnnFaultIsOutput(fault)) {
        Fail(Shown(output, true), OutputProblem(output, fault, options));
    } else {
        Fail(Shown(input, false), InputProblem(fault));
    }
}

// The codec's ends of standard input and output, and the progress line.
int ReadStandardInput(void*, unsigned char* buf, int size) {
    return ReadIn(buf, size);
}

int WriteStandardOutput(void*, const unsigned char* buf, int size) {
    return WriteOut(buf, static_cast<size_t>(size)) ? 0 : -1;
}

void ShowProgress(void* progress, long long done, long long total) {
    static_cast<Progress*>(progress)->Update(done, total);
}

// The path the codec takes for a file: none for a stream.
const char* PathFor(const std::string& path) {
    return IsStream(path) ? nullptr : path.c_str();
}

EnnReadFunc ReaderFor(const std::string& path) {
    return IsStream(path) ? ReadStandardInput : nullptr;
}

EnnWriteFunc WriterFor(const std::string& path) {
    return IsStream(path) ? WriteStandardOutput : nullptr;
}

// How enn tells each end of the Encrypt command, in the order of EncryptEnd;
// under zh_CN the catalogue gives the window's own texts.
struct Outcome {
    EncryptEnd end;
    const char* text;
};
constexpr Outcome kOutcomes[] = {
    {EncryptEnd::kNoPath, N_("Please name the file to encrypt.")},
    {EncryptEnd::kNoPassword, N_("Please enter the password.")},
    {EncryptEnd::kNoConfirm, N_("Please enter the password again to confirm it.")},
    {EncryptEnd::kPasswordLength, N_("Please enter a password of 6 digits.")},
    {EncryptEnd::kConfirmLength, N_("Please enter a confirmation of 6 digits.")},
    {EncryptEnd::kMismatch, N_("The two passwords differ.")},
    {EncryptEnd::kNotDigits, N_("The password must be digits.")},
    {EncryptEnd::kInputMissing, N_("The file cannot be found.")},
    {EncryptEnd::kCannotCreate, N_("The container cannot be created.")},
    {EncryptEnd::kFailed, N_("Encryption failed.")},
    // %s: the container's name
    {EncryptEnd::kWritten,
     N_("Encrypted. The container is saved as \"%s\"; please deliver it to the bank.")},
};

constexpr bool EveryEndInOrder() {
    for (size_t i = 0; i < std::size(kOutcomes); ++i) {
        if (static_cast<size_t>(kOutcomes[i].end) != i) {
            return false;
        }
    }
    return std::size(kOutcomes) == static_cast<size_t>(EncryptEnd::kWritten) + 1;
}
static_assert(EveryEndInOrder(), "one sentence for each end of the command, in its order");

std::string Told(EncryptEnd end) {
    return _(kOutcomes[static_cast<size_t>(end)].text);
}

// Refuses standard input at once where it cannot carry a container; true
// when it can.
bool ContainerOnStandardInput() {
    switch (StandardInputKind()) {
        case InputKind::kClosed:
            Fail(_("standard input"), _("is closed; there is nothing to read"));
            return false;
        case InputKind::kFolder:
            Fail(_("standard input"), _("is a folder, not a container"));
            return false;
        case InputKind::kTerminal:
            Fail(_("standard input"),
                 _("is a terminal, at which no container can be typed; redirect a file or a "
                   "pipe to it"));
            return false;
        case InputKind::kData:
            break;
    }
    return true;
}

}  // namespace

int VerifyContainers(const std::vector<std::string>& paths, const JobOptions& options) {
    int status = kExitOk;
    for (const std::string& path : paths) {
        if (IsStream(path) && !ContainerOnStandardInput()) {
            status = kExitFailed;
            continue;
        }
        int fault = ENN_FAULT_NONE;
        {
            Progress progress(Shown(path, false), !options.quiet);
            HeldKey key;
            EnnDecryptStream(key.get(), PathFor(path), nullptr, ENN_KEEP_EXISTING, ReaderFor(path),
                             nullptr, ShowProgress, &progress, &fault);
        }
        if (fault == ENN_FAULT_NONE) {
            if (!options.quiet) {
                PrintOut(Shown(path, false) + ": " + _("intact") + "\n");
            }
        } else {
            Fail(Shown(path, false), InputProblem(fault));
            status = kExitFailed;
        }
    }
    return status;
}

int DecryptContainer(const std::string& container, const std::string& output,
                     const JobOptions& options) {
    if (output.back() == '/') {
        Fail(output, _("names a folder, not a file"));
        return kExitFailed;
    }
    if (IsStream(container) && !ContainerOnStandardInput()) {
        return kExitFailed;
    }
    int fault = ENN_FAULT_NONE;
    int result;
    {
        CleanUpOnSignals cleaning;
        Progress progress(Shown(container, false), !options.quiet);
        HeldKey key;
        result = EnnDecryptStream(key.get(), PathFor(container), PathFor(output),
                                  options.force ? ENN_REPLACE_EXISTING : ENN_KEEP_EXISTING,
                                  ReaderFor(container), WriterFor(output), ShowProgress, &progress,
                                  &fault);
    }
    if (result != ENN_OK) {
        FailJob(container, output, fault, options);
        return kExitFailed;
    }
    // Standard output carries the plain bytes: no message may join them.
    if (!options.quiet && !IsStream(output)) {
        PrintOut(Fill(_("%s: decrypted to %s"), {container, output}) + "\n");
    }
    return kExitOk;
}

int PrintPassword(const std::string& container) {
    if (IsStream(container) && !ContainerOnStandardInput()) {
        return kExitFailed;
    }
    char password[7] = {};
    int fault = ENN_FAULT_NONE;
    int result;
    {
        HeldKey key;
        result = EnnReadPasswordStream(key.get(), PathFor(container), ReaderFor(container), nullptr,
                                       password, &fault);
    }
    if (result != ENN_OK) {
        Fail(Shown(container, false), InputProblem(fault));
        return kExitFailed;
    }
    PrintOut(std::string(password) + "\n");
    WipeSecret(password, sizeof password);
    return kExitOk;
}

int EncryptWithCommand(const std::string& path, const std::string& output,
                       const JobOptions& options) {
    EncryptFields fields;
    fields.path.text = path;
    if (options.passwordFromStdin) {
        fields.password.text = ReadPasswordLine(0);
        fields.confirm.text = ReadPasswordLine(0);
    } else if (!AskPasswordOnTerminal(&fields.password.text, &fields.confirm.text)) {
        PrintErr(std::string("enn encrypt: ") +
                 _("no terminal to ask for the password on; use --password-stdin") + "\n");
        return kExitUsage;
    }
    EncryptOutcome outcome;
    ContainerWriter writer;
    writer.output = options.outputGiven ? output : ContainerPathFor(path);
    {
        CleanUpOnSignals cleaning;
        Progress progress(Shown(path, false), !options.quiet);
        writer.write = [&](const char* password, const char* key, int* why) {
            return EnnEncryptStream(password, key, PathFor(path), PathFor(writer.output),
                                    ReaderFor(path), WriterFor(writer.output), ShowProgress,
                                    &progress, why);
        };
        // A file name is taken as it is given; only the window trims its field.
        outcome = RunEncryptCommand(fields, kPathAsGiven, &writer);
    }
    WipeSecret(fields.password.text);
    WipeSecret(fields.confirm.text);

    if (outcome.end == EncryptEnd::kWritten) {
        if (!options.quiet && !IsStream(outcome.container)) {
            PrintOut(Fill(Told(outcome.end).c_str(), {outcome.container}) + "\n");
        }
        return kExitOk;
    }
    const std::string message = Told(outcome.end);
    if (outcome.StoppedByCheck()) {
        if (path.empty()) {
            PrintErr("enn: " + message + "\n");
        } else {
            Fail(Shown(path, false), message);
        }
    } else if (EnnFaultIsOutput(outcome.fault)) {
        Fail(Shown(outcome.container, true),
             Fill(_("%s (%s)"),
                  {message, OutputProblem(outcome.container, outcome.fault, options)}));
    } else {
        Fail(Shown(path, false), Fill(_("%s (%s)"), {message, InputProblem(outcome.fault)}));
    }
    return kExitFailed;
}
