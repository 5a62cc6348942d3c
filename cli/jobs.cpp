#include "cli/jobs.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// Refuses standard input at once where it cannot carry a container: the
// exit status to end with, or kExitOk when it can.
int ContainerOnStandardInput() {
    switch (StandardInputKind()) {
        case InputKind::kClosed:
            Fail(_("standard input"), _("is closed; there is nothing to read"));
            return kExitFailed;
        case InputKind::kFolder:
            Fail(_("standard input"), _("is a folder, not a container"));
            return kExitFailed;
        case InputKind::kTerminal:
            Fail(_("standard input"),
                 _("is a terminal, at which no container can be typed; redirect a file or a "
                   "pipe to it"));
            return kExitUsage;
        case InputKind::kData:
            break;
    }
    return kExitOk;
}

// The exit status one file's fault gives.
int StatusOf(int fault) {
    if (fault == ENN_FAULT_NONE) {
        return kExitOk;
    }
    return EnnFaultIsRefusal(fault) ? kExitRefused : kExitFailed;
}

// How one file ended, for its line of JSON.
struct FileReport {
    std::string file;
    int fault = ENN_FAULT_NONE;
    std::string outcome;  // "ok", "refused" or "failed"; from the fault when empty
    std::string message;  // English; the fault's words when empty
    std::string password;
    std::string output;
    long long size = -1;
};

// text as a JSON string: quotes, backslashes and control characters escaped,
// bytes that are not UTF-8 (a file name can hold any) as U+FFFD.
std::string Json(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80 ? 1 : c >> 5 == 6 ? 2 : c >> 4 == 14 ? 3 : c >> 3 == 30 ? 4 : 0;
        for (size_t k = 1; len != 0 && k < len; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) >> 6) != 2) {
                len = 0;
            }
        }
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, i, len);
        }
        i += len;
    }
    return out + "\"";
}

// One line of JSON for a file, the same whatever the locale.
void PrintJson(const FileReport& r) {
    const int status = StatusOf(r.fault);
    std::string outcome = r.outcome;
    if (outcome.empty()) {
        outcome = status == kExitOk ? "ok" : status == kExitRefused ? "refused" : "failed";
    }
    std::string line = "{\"file\":" + Json(r.file) + ",\"outcome\":" + Json(outcome) +
                       ",\"fault\":" + Json(EnnFaultName(r.fault)) + ",\"message\":" +
                       Json(r.message.empty() ? EnnFaultText(r.fault) : r.message);
    if (!r.password.empty()) {
        line += ",\"password\":" + Json(r.password);
    }
    if (!r.output.empty()) {
        line += ",\"output\":" + Json(r.output);
    }
    if (r.size >= 0) {
        line += ",\"size\":" + std::to_string(r.size);
    }
    PrintOut(line + "}\n");
}

// The size of the file at path, or -1.
long long SizeOf(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return -1;
    }
    long long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        size = std::ftell(f);
    }
    std::fclose(f);
    return size;
}

}  // namespace

int WorseStatus(int a, int b) {
    const auto rank = [](int s) { return s == kExitFailed ? 2 : s == kExitRefused ? 1 : 0; };
    return rank(a) >= rank(b) ? a : b;
}

namespace {

// Runs job(path) on each container, one after another, standard input first
// checked for whether it can carry one: the run's exit status, from the
// faults job returns.
template <typename Job>
int EachContainer(const std::vector<std::string>& paths, Job job) {
    int status = kExitOk;
    for (const std::string& path : paths) {
        if (IsStream(path)) {
            if (const int refused = ContainerOnStandardInput()) {
                if (refused == kExitUsage) {
                    return kExitUsage;
                }
                status = WorseStatus(status, refused);
                continue;
            }
        }
        status = WorseStatus(status, StatusOf(job(path)));
    }
    return status;
}

}  // namespace

int VerifyContainers(const std::vector<std::string>& paths, const JobOptions& options) {
    return EachContainer(paths, [&](const std::string& path) {
        int fault = ENN_FAULT_NONE;
        {
            Progress progress(Shown(path, false), !options.quiet && paths.size() == 1);
            EnnDecryptStream(EnnBuiltIn(), PathFor(path), nullptr, ENN_KEEP_EXISTING,
                             ReaderFor(path), nullptr, ShowProgress, &progress, &fault);
        }
        if (options.json) {
            FileReport report;
            report.file = path;
            report.fault = fault;
            PrintJson(report);
        } else if (fault == ENN_FAULT_NONE && !options.quiet) {
            PrintOut(Shown(path, false) + ": " + _("intact") + "\n");
        }
        if (fault != ENN_FAULT_NONE) {
            Fail(Shown(path, false), InputProblem(fault));
        }
        return fault;
    });
}

namespace {

// One container's decryption, run on any thread; told on the main one.
struct Decryption {
    std::string container;
    std::string output;
    int fault = ENN_FAULT_NONE;
    char password[ENN_PASSWORD_LENGTH + 1] = {};
    ~Decryption() { WipeSecret(password, sizeof password); }
};

void RunDecryption(Decryption* job, const JobOptions& options, Progress* progress) {
    if (job->output.back() == '/') {
        job->fault = ENN_FAULT_OUTPUT_FOLDER;
        return;
    }
    EnnDecryptStreamEx(EnnBuiltIn(), PathFor(job->container), PathFor(job->output),
                       options.force ? ENN_REPLACE_EXISTING : ENN_KEEP_EXISTING,
                       ReaderFor(job->container), WriterFor(job->output),
                       progress != nullptr ? ShowProgress : nullptr, progress, job->password,
                       &job->fault);
}

void TellDecryption(const Decryption& job, const JobOptions& options) {
    if (options.json) {
        FileReport report;
        report.file = job.container;
        report.fault = job.fault;
        if (job.fault == ENN_FAULT_NONE) {
            report.password = job.password;
            report.output = job.output;
            report.size = IsStream(job.output) ? OutputBytes() : SizeOf(job.output);
        }
        PrintJson(report);
    }
    if (job.fault != ENN_FAULT_NONE) {
        if (job.fault == ENN_FAULT_OUTPUT_FOLDER && job.output.back() == '/') {
            Fail(job.output, _("names a folder, not a file"));
        } else {
            FailJob(job.container, job.output, job.fault, options);
        }
        return;
    }
    // Standard output carries the plain bytes: no message may join them.
    if (options.json || IsStream(job.output)) {
        return;
    }
    if (!options.quiet) {
        PrintOut(Fill(_("%s: decrypted to %s"), {job.container, job.output}) + "\n");
    }
    if (options.printPassword) {
        PrintOut(job.container + ": " + job.password + "\n");
    }
}

// Containers decrypted at once: their flushes to disk overlap, and one
// container's flush never waits for another's decoding.
constexpr size_t kDecryptingAtOnce = 4;

}  // namespace

int DecryptContainers(const std::vector<std::string>& containers,
                      const std::vector<std::string>& outputs, const JobOptions& options) {
    if (containers.size() == 1 && IsStream(containers[0])) {
        if (const int refused = ContainerOnStandardInput()) {
            return refused;
        }
    }
    std::vector<Decryption> jobs(containers.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
        jobs[i].container = containers[i];
        jobs[i].output = outputs[i];
    }
    CleanUpOnSignals cleaning;
    if (jobs.size() == 1) {
        Progress progress(Shown(jobs[0].container, false), !options.quiet);
        RunDecryption(&jobs[0], options, &progress);
    } else {
        // Each worker takes the next container; the main thread tells each
        // in the order given, as soon as it and those before it are done.
        std::mutex mutex;
        std::condition_variable finished;
        std::vector<bool> done(jobs.size(), false);
        std::atomic<size_t> next{0};
        const auto work = [&] {
            for (size_t i = next++; i < jobs.size(); i = next++) {
                RunDecryption(&jobs[i], options, nullptr);
                std::lock_guard<std::mutex> lock(mutex);
                done[i] = true;
                finished.notify_all();
            }
        };
        std::vector<std::thread> workers;
        for (size_t w = 0; w < std::min(kDecryptingAtOnce, jobs.size()); ++w) {
            workers.emplace_back(work);
        }
        int status = kExitOk;
        for (size_t i = 0; i < jobs.size(); ++i) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                finished.wait(lock, [&] { return done[i]; });
            }
            TellDecryption(jobs[i], options);
            status = WorseStatus(status, StatusOf(jobs[i].fault));
        }
        for (std::thread& w : workers) {
            w.join();
        }
        return status;
    }
    TellDecryption(jobs[0], options);
    return StatusOf(jobs[0].fault);
}

int PrintPasswords(const std::vector<std::string>& containers, const JobOptions& options) {
    return EachContainer(containers, [&](const std::string& container) {
        char password[ENN_PASSWORD_LENGTH + 1] = {};
        int fault = ENN_FAULT_NONE;
        EnnReadPasswordStream(EnnBuiltIn(), PathFor(container), ReaderFor(container), nullptr,
                              password, &fault);
        if (options.json) {
            FileReport report;
            report.file = container;
            report.fault = fault;
            report.password = password;
            PrintJson(report);
        } else if (fault == ENN_FAULT_NONE) {
            PrintOut((containers.size() == 1 ? "" : Shown(container, false) + ": ") +
                     std::string(password) + "\n");
        }
        if (fault != ENN_FAULT_NONE) {
            Fail(Shown(container, false), InputProblem(fault));
        }
        WipeSecret(password, sizeof password);
        return fault;
    });
}

namespace {

// Encrypts path to output with the password fields; the file's exit status.
int EncryptOne(const EncryptFields& given, const std::string& path, const std::string& output,
               const JobOptions& options, bool single) {
    EncryptFields fields = given;
    fields.path.text = path;
    EncryptOutcome outcome;
    ContainerWriter writer;
    writer.output = output;
    {
        Progress progress(Shown(path, false), !options.quiet && single);
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
    const std::string english = kOutcomes[static_cast<size_t>(outcome.end)].text;
    if (options.json) {
        FileReport report;
        report.file = path;
        report.fault = outcome.StoppedByCheck() ? ENN_FAULT_ARGUMENT : outcome.fault;
        if (outcome.StoppedByCheck()) {
            report.outcome = "refused";
            report.message = english;
        }
        if (outcome.end == EncryptEnd::kWritten) {
            report.output = outcome.container;
            report.size = IsStream(outcome.container) ? OutputBytes() : SizeOf(outcome.container);
        }
        PrintJson(report);
    }
    if (outcome.end == EncryptEnd::kWritten) {
        if (!options.quiet && !options.json && !IsStream(outcome.container)) {
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
        return kExitRefused;
    }
    if (EnnFaultIsOutput(outcome.fault)) {
        Fail(Shown(outcome.container, true),
             Fill(_("%s (%s)"),
                  {message, OutputProblem(outcome.container, outcome.fault, options)}));
    } else {
        Fail(Shown(path, false), Fill(_("%s (%s)"), {message, InputProblem(outcome.fault)}));
    }
    return StatusOf(outcome.fault) == kExitOk ? kExitFailed : StatusOf(outcome.fault);
}

}  // namespace

int EncryptWithCommand(const std::vector<std::string>& paths,
                       const std::vector<std::string>& outputs, const JobOptions& options) {
    EncryptFields fields;
    if (options.passwordFromStdin) {
        fields.password.text = ReadPasswordLine(0);
        fields.confirm.text = ReadPasswordLine(0);
    } else if (!AskPasswordOnTerminal(&fields.password.text, &fields.confirm.text)) {
        PrintErr(std::string("enn encrypt: ") +
                 _("no terminal to ask for the password on; use --password-stdin") + "\n");
        return kExitUsage;
    }
    int status = kExitOk;
    {
        CleanUpOnSignals cleaning;
        for (size_t i = 0; i < paths.size(); ++i) {
            status = WorseStatus(
                status, EncryptOne(fields, paths[i], outputs[i], options, paths.size() == 1));
        }
    }
    WipeSecret(fields.password.text);
    WipeSecret(fields.confirm.text);
    return status;
}
