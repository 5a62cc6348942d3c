// enn: the command line for the receiving side of .enn containers and for
// scripts. Each command and option is declared once, below; the parser and
// the help are made from those declarations.
#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/version.h"
#include "cli/console.h"
#include "cli/jobs.h"
#include "cli/nls.h"
#include "cli/status.h"
#include "cli/text.h"
#include "codec/enn.h"
#include "command/encrypt_command.h"
#ifdef _WIN32
#include "cli/console_win32.h"
#endif

namespace {

// What separates folders in a path given to enn.
#ifdef _WIN32
constexpr char kSeparators[] = "/\\";
#else
constexpr char kSeparators[] = "/";
#endif

// Help lines end before this column.
constexpr size_t kWidth = 79;

enum CommandId { kVerify, kDecrypt, kPassword, kEncrypt };

struct Command {
    CommandId id;
    const char* name;
    const char* operands;  // as the tool's help lists the command
    const char* forms[2];  // the command's usage lines, after "enn NAME"; the second may be null
    const char* summary;   // one line in the tool's help
    const char* help;      // the command's own help, before its options
};

const Command kCommands[] = {
    {kVerify,
     "verify",
     "FILE.enn...",
     {"[-q] [--json] FILE.enn...", nullptr},
     N_("check each container through and through"),
     N_("Checks each container as decrypt would, writing nothing: the digest header against "
        "the content, the password chunk under the built-in key, and every chunk against the "
        "layout the encoder writes. Prints \"FILE.enn: intact\" for each intact container; "
        "each other file gets a line on standard error saying what is wrong: damaged, written "
        "under another key, or unreadable. - reads a container from standard input.")},
    {kDecrypt,
     "decrypt",
     "FILE.enn...",
     {"[-q] [-p] [-f] FILE.enn [-o OUT]", "[-q] [-p] [-f] [--json] [-d DIR] FILE.enn..."},
     N_("write the plain file of each container"),
     N_("Checks the container and writes the plain file, by default FILE (the container's "
        "name without .enn). The plain file appears under its name, or on standard output with "
        "-o -, only once the whole container has been checked: a damaged or foreign container, "
        "a full disk or an interruption leaves no plain file behind and an existing OUT as it "
        "was. Standard output gets nothing before the check; but a pipe cannot take back what "
        "it was given, so an interruption or failure while the data is delivered can leave "
        "part of it there, and enn then exits non-zero: act only on status 0. - reads the "
        "container from standard input; the output must then be named with -o. Several "
        "containers are decrypted at once, each on its own: NAME.enn becomes NAME beside it, or "
        "in the folder of -d; each is reported in the order given once it is on disk, and none "
        "stops the others. A run in which two containers would be decrypted to one file (names "
        "that differ only in case or Unicode normalisation are one file), or one onto another "
        "container of the run, is refused before anything is read, as is a "
        "folder of -d that is missing, not a folder or not writable: one line, and nothing "
        "decrypted. An existing output is kept without -f; where it is a file of the user's "
        "alone (not a link, one link, writable by nobody else) that holds exactly the plain "
        "data of its container, compared byte for byte as the container is read, it was "
        "decrypted by an earlier run: that container is done, and a run cut short by a full "
        "disk is finished by running it again.")},
    {kPassword,
     "password",
     "FILE.enn...",
     {"[--json] FILE.enn...", nullptr},
     N_("print the six-digit password inside"),
     N_("Prints the six-digit password carried inside the container, also with -q; for "
        "several containers, a line \"FILE.enn: PASSWORD\" each. The digest header is not "
        "consulted; 'enn verify' checks it, and 'enn decrypt --print-password' gives the "
        "password with the data. - reads the container from standard input.")},
    {kEncrypt,
     "encrypt",
     "FILE...",
     {"[-q] [--password-stdin] FILE [-o OUT]", "[-q] [--password-stdin] [--json] [-d DIR] FILE..."},
     N_("write FILE.enn for each FILE"),
     N_("Runs the window's Encrypt command on FILE, taken exactly as given: checks the "
        "password, writes the container to FILE.enn or OUT (replacing an existing one only "
        "once the new one is whole, as the window does) and prints the command's message, on "
        "standard output when the container is written and on standard error otherwise. The "
        "password and its confirmation are asked for on the terminal, without echo. FILE may "
        "be - for standard input when -o is given; with --password-stdin the two password "
        "lines come first. Several files take the one password, each its own container.")},
};

// What the options of one command leave behind.
struct Arguments {
    JobOptions job;
    std::string output;
    std::string folder;  // -d: where the outputs go
    bool folderGiven = false;
    bool help = false;
};

struct Option {
    const char* name;
    char letter;           // the short form, or 0
    const char* argument;  // the value's name, or null for a switch
    unsigned commands;     // bit (1 << CommandId) for each command that takes it
    const char* help;
    void (*take)(Arguments*, const char* value);
};

constexpr unsigned kAll = 0xF;

void TakeOutput(Arguments* a, const char* value) {
    a->output = value;
    a->job.outputGiven = true;
}

void TakeFolder(Arguments* a, const char* value) {
    a->folder = value;
    a->folderGiven = true;
}

const Option kOptions[] = {
    {"output", 'o', "OUT", 1u << kDecrypt,
     N_("write the plain file to OUT; - writes it to standard output"), TakeOutput},
    {"output", 'o', "OUT", 1u << kEncrypt,
     N_("write the container to OUT instead of FILE.enn; - writes it to standard output"),
     TakeOutput},
    {"directory", 'd', "DIR", 1u << kDecrypt | 1u << kEncrypt,
     N_("write each output into the folder DIR: NAME.enn decrypts to DIR/NAME, FILE encrypts "
        "to DIR/FILE.enn"),
     TakeFolder},
    {"print-password", 'p', nullptr, 1u << kDecrypt,
     N_("print each container's password too, \"FILE.enn: PASSWORD\", from the same pass, also "
        "with -q"),
     [](Arguments* a, const char*) { a->job.printPassword = true; }},
    {"json", 0, nullptr, kAll,
     N_("report each file as one line of JSON on standard output, in the order given, once its "
        "outcome is final: file, outcome (ok, refused, blocked, failed: as exit status 0, 1, 2, "
        "3), fault (its ENN_FAULT_ name), message (in English), output (of decrypt and encrypt, "
        "also when the file failed) and what it yields (password, size, and present: true "
        "for an output that already held this plain data); a name that is not UTF-8 comes also as "
        "the hex of its bytes in "
        "file_hex or output_hex. The same in every language. Errors still go to standard "
        "error; -q silences the rest"),
     [](Arguments* a, const char*) { a->job.json = true; }},
    {"force", 'f', nullptr, 1u << kDecrypt,
     N_("replace an output if it exists (never a folder, a device or the container itself)"),
     [](Arguments* a, const char*) { a->job.force = true; }},
    {"in-place", 0, nullptr, 1u << kDecrypt | 1u << kEncrypt,
     N_("where an existing output can be replaced only by writing over it in place (its folder "
        "takes no new file, or is sticky and the file another user's), do that; a crash then "
        "can leave it part new, part old until the same command is run again"),
     [](Arguments* a, const char*) { a->job.inPlace = true; }},
    {"password-stdin", 0, nullptr, 1u << kEncrypt,
     N_("read the password and its confirmation from standard input instead: the password on "
        "the first line, the confirmation on the second (a missing second line is an empty "
        "confirmation)"),
     [](Arguments* a, const char*) { a->job.passwordFromStdin = true; }},
    {"quiet", 'q', nullptr, kAll,
     N_("print no message on standard output and no progress; errors still go to standard "
        "error"),
     [](Arguments* a, const char*) { a->job.quiet = true; }},
    {"help", 'h', nullptr, kAll, N_("show this help"),
     [](Arguments* a, const char*) { a->help = true; }},
};

// Each status with its words and the library's faults that give it.
std::string ExitStatusHelp() {
    std::string help = std::string(_("Exit status:")) + "\n";
    for (int i = 0; i < kExitStatusCount; ++i) {
        const ExitStatusLine& s = kExitStatusLines[i];
        std::string faults;
        for (int fault = ENN_FAULT_NONE + 1; fault < FaultRows(); ++fault) {
            if (FaultStatus(fault) == s.code) {
                faults += (faults.empty() ? "" : " ") + std::string(EnnFaultName(fault));
            }
        }
        std::string text = _(s.text);
        if (!faults.empty()) {
            text += "\n" + Fill(_("Faults: %s"), {faults});
        }
        help += "  " + std::to_string(s.code) + "  " + Wrap(text, kWidth, 5);
    }
    return help;
}

bool Takes(const Option& o, const Command& c) {
    return (o.commands & (1u << c.id)) != 0;
}

// The command's usage lines, one for each of its forms.
std::string UsageLines(const Command& c) {
    std::string lines = std::string(_("Usage:")) + " enn " + c.name + " " + c.forms[0] + "\n";
    if (c.forms[1] != nullptr) {
        lines += std::string(_("   or:")) + " enn " + c.name + " " + c.forms[1] + "\n";
    }
    return lines;
}

// What an intake does with each line of its run, as the tool's help and
// decrypt's both show it.
std::string IntakeHelp() {
    return std::string(_("An intake, one run for a day's containers:")) +
           "\n  enn decrypt --json -d plain intake/*.enn > report.jsonl\n" +
           Wrap(_("then act on each line's outcome: ok: done (with \"present\":true, an earlier "
                  "run had done it); refused: send the container back, as no retry will do; "
                  "failed: run the same command again later; blocked: a person changes the "
                  "command or the file in its way. A run refused whole prints no line and "
                  "exits with 2."),
                kWidth, 0);
}

// The option's help, wrapped beside its name.
std::string OptionHelp(const Option& o) {
    std::string head = "  ";
    head += o.letter != 0 ? std::string("-") + o.letter + ", " : "    ";
    head += std::string("--") + o.name;
    if (o.argument != nullptr) {
        head += std::string(" ") + o.argument;
    }
    const size_t column = 24;
    head.resize(std::max(column, head.size() + 1), ' ');
    return head + Wrap(_(o.help), kWidth, column);
}

int PrintCommandHelp(const Command& c) {
    std::string help = UsageLines(c) + Wrap(_(c.help), kWidth, 0) + "\n" + _("Options:") + "\n";
    for (const Option& o : kOptions) {
        if (Takes(o, c)) {
            help += OptionHelp(o);
        }
    }
    if (c.id == kDecrypt) {
        help += "\n" + IntakeHelp();
    }
    PrintOut(help + "\n" + ExitStatusHelp());
    return kExitOk;
}

int PrintToolHelp() {
    std::string help = std::string(_("Usage:")) + " enn COMMAND [OPTION]... FILE...\n" +
                       Wrap(_("Verifies, decrypts and encrypts .enn containers under the "
                              "built-in key."),
                            kWidth, 0) +
                       "\n" + _("Commands:") + "\n";
    for (const Command& c : kCommands) {
        std::string left = std::string("  ") + c.name + " " + c.operands;
        left.resize(std::max<size_t>(24, left.size() + 1), ' ');
        help += left + _(c.summary) + "\n";
    }
    help += "\n" +
            Wrap(_("'enn help COMMAND' or 'enn COMMAND --help' describes a command and its "
                   "options; 'enn --version' prints the version. A FILE named - is standard "
                   "input, an OUT named - standard output. Errors go to standard error, one "
                   "line each, naming the file."),
                 kWidth, 0) +
            "\n" + IntakeHelp() + "\n" + ExitStatusHelp();
    PrintOut(help);
    return kExitOk;
}

int UsageError(const std::string& where, const std::string& what) {
    PrintErr(Fill(_("%1$s: %2$s; see '%1$s --help'"), {where, what}) + "\n");
    return kExitBlocked;
}

// How the option that getopt could not take was written.
std::string OptionShown(int letter, const char* written) {
    if (letter > 0 && letter < 256) {
        return std::string("-") + static_cast<char>(letter);
    }
    if (letter >= 256) {
        return std::string("--") + kOptions[letter - 256].name;
    }
    std::string text = written;  // an unknown long option, with any value cut off
    return text.substr(0, text.find('='));
}

// Reads the options of command c from argv; returns "" or what is wrong.
std::string Parse(const Command& c, int argc, char** argv, Arguments* args,
                  std::vector<std::string>* files) {
    std::vector<option> longOptions;
    std::string shortOptions = "-:";  // operands come back in order; report what is missing
    for (const Option& o : kOptions) {
        if (Takes(o, c)) {
            longOptions.push_back({o.name, o.argument != nullptr ? required_argument : no_argument,
                                   nullptr, static_cast<int>(&o - kOptions) + 256});
            if (o.letter != 0) {
                shortOptions += o.letter;
                shortOptions += o.argument != nullptr ? ":" : "";
            }
        }
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;
    optind = 2;
    for (;;) {
        const int key = getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(), nullptr);
        if (key == -1) {
            break;
        }
        if (key == 1) {
            files->push_back(optarg);
            continue;
        }
        if (key == ':') {
            return Fill(_("option '%s' needs a value"), {OptionShown(optopt, argv[optind - 1])});
        }
        const Option* found = nullptr;
        for (const Option& o : kOptions) {
            if (Takes(o, c) && (key == static_cast<int>(&o - kOptions) + 256 || key == o.letter)) {
                found = &o;
            }
        }
        if (key == '?' || found == nullptr) {
            return Fill(_("unknown option '%s'"), {OptionShown(optopt, argv[optind - 1])});
        }
        found->take(args, optarg);
    }
    for (int i = optind; i < argc; ++i) {
        files->push_back(argv[i]);  // after "--"
    }
    return "";
}

int RunCommand(const Command& c, int argc, char** argv) {
    const std::string where = std::string("enn ") + c.name;
    Arguments args;
    std::vector<std::string> files;
    const std::string problem = Parse(c, argc, argv, &args, &files);
    if (args.help) {
        return PrintCommandHelp(c);
    }
    if (!problem.empty()) {
        return UsageError(where, problem);
    }
    if (files.empty()) {
        return UsageError(where, _("no file given"));
    }
    if (std::count(files.begin(), files.end(), kStandardStream) > 1) {
        return UsageError(where, _("standard input can be read only once"));
    }
    if (c.id == kVerify) {
        return VerifyContainers(files, args.job);
    }
    if (c.id == kPassword) {
        return PrintPasswords(files, args.job);
    }
    const bool fromStream = std::count(files.begin(), files.end(), kStandardStream) > 0;
    if (fromStream && files.size() > 1) {
        return UsageError(where, _("standard input is a container of its own: give it alone"));
    }
    if (args.job.outputGiven && files.size() > 1) {
        return UsageError(where, _("-o names one output; for several files give -d DIR"));
    }
    if (args.job.outputGiven && args.folderGiven) {
        return UsageError(where, _("-o and -d cannot go together"));
    }
    if (fromStream && !args.job.outputGiven) {
        return UsageError(where, _("standard input needs an output: give -o OUT or -o -"));
    }
    if (args.job.outputGiven && args.output.empty()) {
        return UsageError(where, _("-o names no file: give a file name, or - for standard output"));
    }
    if (args.folderGiven && args.folder.empty()) {
        return UsageError(where, _("-d names no folder"));
    }
    if (args.job.json && args.job.outputGiven && IsStream(args.output)) {
        return UsageError(where, _("--json and -o - cannot go together: standard output "
                                   "carries the data"));
    }
    // Each output: -o, or beside the file, or in the folder of -d.
    const auto inFolder = [&](const std::string& name) {
        if (!args.folderGiven) {
            return name;
        }
        const size_t slash = name.find_last_of(kSeparators);
        const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
        const char last = args.folder.back();
        return std::strchr(kSeparators, last) != nullptr ? args.folder + base
                                                         : args.folder + "/" + base;
    };
    std::vector<std::string> outputs;
    for (const std::string& file : files) {
        if (args.job.outputGiven) {
            outputs.push_back(args.output);
        } else if (c.id == kEncrypt) {
            outputs.push_back(inFolder(ContainerPathFor(file)));
        } else {
            const std::string suffix = ENN_EXTENSION;
            const bool named =
                file.size() > suffix.size() &&
                file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                std::strchr(kSeparators, file[file.size() - suffix.size() - 1]) == nullptr;
            if (!named) {
                return UsageError(
                    where, Fill(_("'%s' does not end in .enn; name the output with -o"), {file}));
            }
            outputs.push_back(inFolder(file.substr(0, file.size() - suffix.size())));
        }
    }
    if (args.folderGiven) {
        if (const int refused = CheckOutputFolder(args.folder)) {
            return refused;
        }
    }
    if (c.id == kEncrypt) {
        return EncryptWithCommand(files, outputs, args.job);
    }
    return DecryptContainers(files, outputs, args.job);
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        return UsageError("enn", _("no command given"));
    }
    const std::string first = argv[1];
    if (first == "-h" || first == "--help") {
        return PrintToolHelp();
    }
    if (first == "--version") {
        PrintOut(std::string("enn ") + VELTRANE_VERSION + "\n");
        return kExitOk;
    }
    if (first == "help") {
        if (argc == 2) {
            return PrintToolHelp();
        }
        for (const Command& c : kCommands) {
            if (argc == 3 && argv[2] == std::string(c.name)) {
                return PrintCommandHelp(c);
            }
        }
        return UsageError("enn", argc == 3 ? Fill(_("unknown command '%s'"), {argv[2]})
                                           : _("one command at a time"));
    }
    for (const Command& c : kCommands) {
        if (first == c.name) {
            return RunCommand(c, argc, argv);
        }
    }
    return UsageError("enn", Fill(_("unknown command '%s'"), {first}));
}

}  // namespace

int main(int argc, char** argv) {
    GuardStandardStreams();
#ifdef _WIN32
    // argv is in the ANSI code page there, which cannot spell every file
    // name; the wide command line can, and the rest of enn takes UTF-8.
    bool refused = false;
    std::vector<std::string> utf8 = CommandLineArguments(&refused);
    if (refused) {
        PrintErr("enn: an argument is not valid Unicode (a lone surrogate); nothing done\n");
        return kExitBlocked;
    }
    std::vector<char*> utf8Argv;
    for (std::string& arg : utf8) {
        utf8Argv.push_back(&arg[0]);
    }
    utf8Argv.push_back(nullptr);
    argc = static_cast<int>(utf8.size());
    argv = utf8Argv.data();
#endif
    StartTranslations();
    int status = Run(argc, argv);
    // What was written to standard output must have arrived, to the last byte.
    const std::string lost = FinishOutput();
    if (!lost.empty()) {
        PrintErr("enn: " + std::string(_("standard output")) + ": " +
                 Fill(_("cannot be written: %s"), {lost}) + "\n");
        status = WorseStatus(status, kExitFailed);
    }
    return status;
}
