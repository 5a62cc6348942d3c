#include "cli/jobs.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/caseless.h"
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

// What enn adds to the library's words for a fault, where enn's own options
// are the way past it: %s is the library's words.
struct Hint {
    int fault;
    const char* text;
};
constexpr Hint kHints[] = {
    // Only decrypting keeps an existing output, and counts it as done where
    // the library does.
    {ENN_FAULT_EXISTS, N_("%s, and is not counted as done: that takes a file of yours alone "
                          "(one link, writable by nobody else) holding exactly this "
                          "container's data; use --force to replace it")},
    {ENN_FAULT_NOT_REGULAR, N_("%s (-o - writes to standard output)")},
    {ENN_FAULT_INPUT_NOT_REGULAR, N_("%s; to read a pipe or a device, give - and redirect it")},
    {ENN_FAULT_IN_PLACE_ONLY, N_("%s; use --in-place to allow that")},
};

// The fault's words, in enn's language, with enn's hint.
std::string FaultWords(int fault) {
    const std::string words = _(EnnFaultText(fault));
    for (const Hint& h : kHints) {
        if (h.fault == fault) {
            return Fill(_(h.text), {words});
        }
    }
    return words;
}

// What is wrong with a file that was to be read, by the codec's fault.
std::string InputProblem(int fault) {
    return FaultWords(fault);
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
    return FaultWords(fault);
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

// How an output that only a copy in place can replace is treated.
int InPlace(const JobOptions& options) {
    return options.inPlace ? ENN_ALLOW_IN_PLACE : 0;
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
// exit status to end with, or kExitOk when it can. A closed one is read as
// one whose reading fails, a folder as a folder named as the input.
int ContainerOnStandardInput() {
    switch (StandardInputKind()) {
        case InputKind::kClosed:
            Fail(_("standard input"), _("is closed; there is nothing to read"));
            return FaultStatus(ENN_FAULT_READ);
        case InputKind::kFolder:
            Fail(_("standard input"), _("is a folder, not a container"));
            return FaultStatus(ENN_FAULT_INPUT_FOLDER);
        case InputKind::kTerminal:
            Fail(_("standard input"),
                 _("is a terminal, at which no container can be typed; redirect a file or a "
                   "pipe to it"));
            return kExitBlocked;
        case InputKind::kData:
            break;
    }
    return kExitOk;
}

// How one file ended, for its line of JSON.
struct FileReport {
    std::string file;
    int fault = ENN_FAULT_NONE;
    std::string outcome;  // from the fault's status when empty
    std::string message;  // English; the fault's words when empty
    std::string password;
    std::string output;
    long long size = -1;
    bool present = false;  // the output held this plain data before the run
};

// The bytes of text in lowercase hexadecimal, two digits a byte.
std::string Hex(const std::string& text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out;
}

// text as a JSON string: quotes, backslashes, control characters and DEL
// escaped, and each byte that is not part of well-formed UTF-8 (a file name
// can hold any) as U+FFFD.
std::string Json(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t len = Utf8Sequence(text, i);
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
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

// A name as fields of a JSON line: "key":name, and where the name is not
// well-formed UTF-8, "key_hex" with its bytes, from which it can be had back.
std::string NameFields(const char* key, const std::string& name) {
    std::string fields = std::string("\"") + key + "\":" + Json(name);
    if (!IsUtf8(name)) {
        fields += std::string(",\"") + key + "_hex\":\"" + Hex(name) + "\"";
    }
    return fields;
}

// One line of JSON for a file, the same whatever the locale.
void PrintJson(const FileReport& r) {
    const std::string outcome = r.outcome.empty() ? OutcomeOf(FaultStatus(r.fault)) : r.outcome;
    std::string line = "{" + NameFields("file", r.file) + ",\"outcome\":" + Json(outcome) +
                       ",\"fault\":" + Json(EnnFaultName(r.fault)) + ",\"message\":" +
                       Json(r.message.empty() ? EnnFaultText(r.fault) : r.message);
    if (!r.password.empty()) {
        line += ",\"password\":" + Json(r.password);
    }
    if (!r.output.empty()) {
        line += "," + NameFields("output", r.output);
    }
    if (r.size >= 0) {
        line += ",\"size\":" + std::to_string(r.size);
    }
    if (r.present) {
        line += ",\"present\":true";
    }
    PrintOut(line + "}\n");
}

// The size of the file at path (UTF-8), or -1.
long long SizeOf(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(path), error);
    return error ? -1 : static_cast<long long>(size);
}

// Runs job(path) on each container, one after another, standard input first
// checked for whether it can carry one: the run's exit status, from the
// faults job returns.
template <typename Job>
int EachContainer(const std::vector<std::string>& paths, Job job) {
    int status = kExitOk;
    for (const std::string& path : paths) {
        if (IsStream(path)) {
            if (const int refused = ContainerOnStandardInput()) {
                status = WorseStatus(status, refused);
                continue;
            }
        }
        status = WorseStatus(status, FaultStatus(job(path)));
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
    long long size = -1;   // of the plain file this job put in place, or found there
    bool present = false;  // the output already held this container's plain data
    ~Decryption() { WipeSecret(password, sizeof password); }
};

void RunDecryption(Decryption* job, const JobOptions& options, Progress* progress) {
    if (job->output.back() == '/') {
        job->fault = ENN_FAULT_OUTPUT_FOLDER;
        return;
    }
    // Without --force an output already there is kept, and is this
    // container's done where the library finds it the user's own copy.
    job->present = EnnDecryptStreamEx(EnnBuiltIn(), PathFor(job->container), PathFor(job->output),
                                      (options.force ? ENN_REPLACE_EXISTING
                                                     : ENN_KEEP_EXISTING | ENN_ACCEPT_PRESENT) |
                                          InPlace(options),
                                      ReaderFor(job->container), WriterFor(job->output),
                                      progress != nullptr ? ShowProgress : nullptr, progress,
                                      job->password, &job->fault) == ENN_PRESENT;
    // The size is taken the moment the plain file is in place, before any
    // other job of the run can finish; no other job writes to this name, as
    // DecryptContainers refused the run otherwise.
    if (job->fault == ENN_FAULT_NONE) {
        job->size = IsStream(job->output) ? OutputBytes() : SizeOf(job->output);
    }
}

void TellDecryption(const Decryption& job, const JobOptions& options) {
    if (options.json) {
        FileReport report;
        report.file = job.container;
        report.fault = job.fault;
        report.output = job.output;
        if (job.fault == ENN_FAULT_NONE) {
            report.password = job.password;
            report.size = job.size;
            report.present = job.present;
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
        PrintOut(Fill(job.present ? _("%s: already decrypted to %s") : _("%s: decrypted to %s"),
                      {job.container, job.output}) +
                 "\n");
    }
    if (options.printPassword) {
        PrintOut(job.container + ": " + job.password + "\n");
    }
}

namespace fs = std::filesystem;

// Who a file or folder is, the same whichever name leads to it ("" when it
// cannot be looked at): its device and inode; on Windows, which has no such
// numbers in stat, its full name with links resolved, in one case.
std::string Identity(const fs::path& path) {
#ifdef _WIN32
    std::error_code error;
    const fs::path full = fs::canonical(path, error);
    std::string name = error ? std::string() : full.u8string();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return name;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return "";
    }
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
#endif
}

// Where a name leads: its folder, by the folder's identity or, for a folder
// that does not exist, by its full name, and the name in that folder by its
// caseless key: one file wherever case or normalisation is ignored.
using Place = std::pair<std::string, std::string>;

Place PlaceOf(const std::string& name) {
    const fs::path path = fs::u8path(name);
    fs::path folder = path.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string where = Identity(folder);
    if (where.empty()) {
        std::error_code error;
        where = "?" + fs::absolute(folder, error).lexically_normal().u8string();
    }
    return {where, CaselessKey(path.filename().u8string())};
}

// Refuses, before anything is read, a run in which two containers would be
// decrypted to one file (the second would replace or be refused for the
// first's plain file), or one onto another container of the run: one line
// naming both. The run's status then, or kExitOk. A container decrypted onto
// itself is left to the library, which refuses it alone.
int OutputsApart(const std::vector<std::string>& containers,
                 const std::vector<std::string>& outputs) {
    if (containers.size() < 2) {
        return kExitOk;
    }
    std::map<Place, size_t> inputAt;
    std::map<std::string, size_t> inputIs;
    for (size_t i = 0; i < containers.size(); ++i) {
        inputAt.emplace(PlaceOf(containers[i]), i);
        const std::string id = Identity(fs::u8path(containers[i]));
        if (!id.empty()) {
            inputIs.emplace(id, i);
        }
    }
    std::map<Place, size_t> outputAt;
    for (size_t i = 0; i < outputs.size(); ++i) {
        const Place place = PlaceOf(outputs[i]);
        const auto [first, added] = outputAt.emplace(place, i);
        if (!added) {
            const std::string& earlier = outputs[first->second];
            const std::string said =
                fs::u8path(earlier).filename() == fs::u8path(outputs[i]).filename()
                    ? Fill(_("%1$s and %2$s would both be decrypted to %3$s; nothing decrypted"),
                           {containers[first->second], containers[i], outputs[i]})
                    : Fill(_("%1$s and %2$s would be decrypted to %3$s and %4$s, one file where "
                             "case or Unicode normalisation is ignored; nothing decrypted"),
                           {containers[first->second], containers[i], earlier, outputs[i]});
            PrintErr("enn decrypt: " + said + "\n");
            return kExitBlocked;
        }
        // Another container under this name, or under another name of this file.
        size_t other = i;
        const auto named = inputAt.find(place);
        if (named != inputAt.end()) {
            other = named->second;
        }
        const auto same =
            other != i ? inputIs.end() : inputIs.find(Identity(fs::u8path(outputs[i])));
        if (same != inputIs.end()) {
            other = same->second;
        }
        if (other != i) {
            PrintErr("enn decrypt: " +
                     Fill(_("%1$s would be decrypted onto %2$s, another container of this run; "
                            "nothing decrypted"),
                          {containers[i], containers[other]}) +
                     "\n");
            return kExitBlocked;
        }
    }
    return kExitOk;
}

// Containers decrypted at once: their flushes to disk overlap, and one
// container's flush never waits for another's decoding.
constexpr size_t kDecryptingAtOnce = 4;

}  // namespace

int CheckOutputFolder(const std::string& folder) {
    std::error_code error;
    const fs::file_status found = fs::status(fs::u8path(folder), error);
    if (found.type() == fs::file_type::not_found) {
        Fail(folder, _("the folder does not exist"));
        return FaultStatus(ENN_FAULT_NO_FOLDER);
    }
    if (error == std::errc::permission_denied) {
        Fail(folder, _(EnnFaultText(ENN_FAULT_DENIED)));
        return FaultStatus(ENN_FAULT_DENIED);
    }
    if (error) {
        Fail(folder, Fill(_("cannot be looked at: %s"), {error.message()}));
        return FaultStatus(ENN_FAULT_READ);
    }
    if (found.type() != fs::file_type::directory) {
        Fail(folder, _("is not a folder"));
        return kExitBlocked;
    }
#ifndef _WIN32
    // Windows says nothing true of a folder's writability here; its outputs
    // tell, each on its own line.
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        Fail(folder, _(EnnFaultText(ENN_FAULT_DENIED)));
        return FaultStatus(ENN_FAULT_DENIED);
    }
#endif
    return kExitOk;
}

int DecryptContainers(const std::vector<std::string>& containers,
                      const std::vector<std::string>& outputs, const JobOptions& options) {
    if (containers.size() == 1 && IsStream(containers[0])) {
        if (const int refused = ContainerOnStandardInput()) {
            return refused;
        }
    }
    if (const int refused = OutputsApart(containers, outputs)) {
        return refused;
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
            status = WorseStatus(status, FaultStatus(jobs[i].fault));
        }
        for (std::thread& w : workers) {
            w.join();
        }
        return status;
    }
    TellDecryption(jobs[0], options);
    return FaultStatus(jobs[0].fault);
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
            return EnnEncryptStreamPlaced(password, key, PathFor(path), PathFor(writer.output),
                                          InPlace(options), ReaderFor(path),
                                          WriterFor(writer.output), ShowProgress, &progress, why);
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
            report.outcome = OutcomeOf(kExitRefused);
            report.message = english;
        } else if (outcome.end != EncryptEnd::kWritten && outcome.fault == ENN_FAULT_NONE) {
            report.outcome = OutcomeOf(kExitFailed);  // never "ok" for a container not written
            report.message = english;
        }
        // The container's name is known once the checks passed; before,
        // the one the command was given stands for it.
        report.output = outcome.container.empty() ? output : outcome.container;
        if (outcome.end == EncryptEnd::kWritten) {
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
    return FaultStatus(outcome.fault) == kExitOk ? kExitFailed : FaultStatus(outcome.fault);
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
        return kExitBlocked;
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
