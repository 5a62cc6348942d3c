// enn: the command line for the receiving side of .enn containers and for
// scripts. Each command and option is declared once, below; the parser and
// the help are made from those declarations.
#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/version.h"
#include "cli/console.h"
#include "cli/jobs.h"
#include "cli/nls.h"
#include "codec/enn.h"
#ifdef _WIN32
#include "cli/console_win32.h"
#endif

namespace {

enum CommandId { kVerify, kDecrypt, kPassword, kEncrypt };

struct Command {
    CommandId id;
    const char* name;
    const char* operands;  // as the usage line shows them
    const char* summary;   // one line in the tool's help
    const char* help;      // the command's own help, before its options
};

const Command kCommands[] = {
    {kVerify, "verify", "FILE.enn...", N_("check each container through and through"),
     N_("Checks each container as decrypt would, writing nothing: the digest header\n"
        "against the content, the password chunk under the built-in key, and every\n"
        "chunk against the layout the encoder writes. Prints \"FILE.enn: intact\" for\n"
        "each intact container; each other file gets a line on standard error saying\n"
        "what is wrong: damaged, written under another key, or unreadable.\n")},
    {kDecrypt, "decrypt", "FILE.enn", N_("write the plain file"),
     N_("Checks the container and writes the plain file, by default FILE (the\n"
        "container's name without .enn). The plain file appears under its name only\n"
        "once the whole container has been checked and every byte written: a damaged\n"
        "or foreign container, a full disk or an interruption leaves no plain file\n"
        "behind and an existing OUT as it was.\n")},
    {kPassword, "password", "FILE.enn", N_("print the six-digit password inside"),
     N_("Prints the six-digit password carried inside the container. The digest\n"
        "header is not consulted; 'enn verify' checks it.\n")},
    {kEncrypt, "encrypt", "FILE", N_("write FILE.enn"),
     N_("Runs the window's Encrypt command on FILE, taken exactly as given: checks\n"
        "the password, writes FILE.enn beside FILE (replacing an existing FILE.enn\n"
        "only once the new one is whole, as the window does) and prints the\n"
        "command's message, on standard output when the container is written and on\n"
        "standard error otherwise. The password and its confirmation are asked for\n"
        "on the terminal, without echo.\n")},
};

// What the options of one command leave behind.
struct Arguments {
    std::string output;
    bool hasOutput = false;
    bool force = false;
    bool passwordStdin = false;
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

const Option kOptions[] = {
    {"output", 'o', "OUT", 1u << kDecrypt, N_("write the plain file to OUT"),
     [](Arguments* a, const char* v) {
         a->output = v;
         a->hasOutput = true;
     }},
    {"force", 'f', nullptr, 1u << kDecrypt,
     N_("replace OUT if it exists (never a directory, a\n"
        "device or the container itself)"),
     [](Arguments* a, const char*) { a->force = true; }},
    {"password-stdin", 0, nullptr, 1u << kEncrypt,
     N_("read the password and its confirmation from standard input instead: the\n"
        "password on the first line, the confirmation on the second (a missing\n"
        "second line is an empty confirmation)"),
     [](Arguments* a, const char*) { a->passwordStdin = true; }},
    {"help", 'h', nullptr, kAll, N_("show this help"),
     [](Arguments* a, const char*) { a->help = true; }},
};

const char kExitStatusHelp[] =
    N_("Exit status:\n"
       "  0  success\n"
       "  1  a job failed: a file missing, unreadable, damaged, foreign, refused or\n"
       "     not writable, or the password refused by a check of encrypt\n"
       "  2  bad usage: unknown command or option, wrong number of files, or no\n"
       "     terminal to ask for the password on\n");

bool Takes(const Option& o, const Command& c) {
    return (o.commands & (1u << c.id)) != 0;
}

std::string UsageLine(const Command& c) {
    std::string line = std::string(_("Usage:")) + " enn " + c.name + " " + c.operands;
    for (const Option& o : kOptions) {
        if (Takes(o, c) && o.commands != kAll) {
            line += o.argument != nullptr && o.letter != 0
                        ? std::string(" [-") + o.letter + " " + o.argument + "]"
                        : std::string(" [--") + o.name + "]";
        }
    }
    return line + "\n";
}

// The option's help, its lines after the first indented under the first.
std::string OptionHelp(const Option& o) {
    std::string head = "  ";
    head += o.letter != 0 ? std::string("-") + o.letter + ", " : "    ";
    head += std::string("--") + o.name;
    if (o.argument != nullptr) {
        head += std::string(" ") + o.argument;
    }
    const size_t column = 22;
    head.resize(std::max(column, head.size() + 1), ' ');
    std::string text = _(o.help);
    std::string out;
    size_t at = 0;
    for (bool first = true; at <= text.size(); first = false) {
        const size_t end = std::min(text.find('\n', at), text.size());
        out += (first ? head : std::string(column, ' ')) + text.substr(at, end - at) + "\n";
        at = end + 1;
    }
    return out;
}

int PrintCommandHelp(const Command& c) {
    std::string help = UsageLine(c) + _(c.help) + "\n" + _("Options:") + "\n";
    for (const Option& o : kOptions) {
        if (Takes(o, c)) {
            help += OptionHelp(o);
        }
    }
    PrintOut(help + "\n" + _(kExitStatusHelp));
    return kExitOk;
}

int PrintToolHelp() {
    std::string help = std::string(_("Usage:")) + " enn COMMAND [OPTION]... FILE...\n" +
                       _("Verifies, decrypts and encrypts .enn containers under the built-in "
                         "key.\n") +
                       "\n" + _("Commands:") + "\n";
    for (const Command& c : kCommands) {
        std::string left = std::string("  ") + c.name + " " + c.operands;
        left.resize(std::max<size_t>(24, left.size() + 1), ' ');
        help += left + _(c.summary) + "\n";
    }
    help += std::string("\n") +
            _("'enn COMMAND --help' describes a command and its options; 'enn --version'\n"
              "prints the version. Errors go to standard error, one line each, naming the\n"
              "file.\n") +
            "\n" + _(kExitStatusHelp);
    PrintOut(help);
    return kExitOk;
}

int UsageError(const std::string& where, const std::string& what) {
    PrintErr(where + ": " + what + "; " + _("see") + " '" + where + " --help'\n");
    return kExitUsage;
}

// Reads the options of command c from argv; returns "" or what is wrong.
std::string Parse(const Command& c, int argc, char** argv, Arguments* args,
                  std::vector<std::string>* files) {
    std::vector<option> longOptions;
    std::string shortOptions = "+:";  // operands end nothing; report what is missing
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
    shortOptions[0] = '-';  // operands come back in order, between options
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
        const Option* found = nullptr;
        for (const Option& o : kOptions) {
            if (Takes(o, c) && (key == static_cast<int>(&o - kOptions) + 256 || key == o.letter)) {
                found = &o;
            }
        }
        if (key == ':') {
            return std::string(_("option needs a value:")) + " '" + argv[optind - 1] + "'";
        }
        if (found == nullptr) {
            return std::string(_("unknown option")) + " '" + argv[optind - 1] + "'";
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
    if (c.id == kVerify) {
        return VerifyContainers(files);
    }
    if (files.size() > 1) {
        return UsageError(where, _("one file at a time"));
    }
    const std::string& file = files[0];
    switch (c.id) {
        case kPassword:
            return PrintPassword(file);
        case kEncrypt:
            return EncryptWithCommand(file, args.passwordStdin);
        default:
            break;
    }
    std::string output = args.output;
    if (!args.hasOutput) {
        const std::string suffix = ENN_EXTENSION;
        const bool named = file.size() > suffix.size() &&
                           file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                           file[file.size() - suffix.size() - 1] != '/';
        if (!named) {
            return UsageError(
                where, "'" + file + "' " + _("does not end in .enn; name the output with -o"));
        }
        output = file.substr(0, file.size() - suffix.size());
    }
    return DecryptContainer(file, output, args.force);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // argv is in the ANSI code page there, which cannot spell every file
    // name; the wide command line can, and the rest of enn takes UTF-8.
    std::vector<std::string> utf8 = CommandLineArguments();
    std::vector<char*> utf8Argv;
    for (std::string& arg : utf8) {
        utf8Argv.push_back(&arg[0]);
    }
    utf8Argv.push_back(nullptr);
    argc = static_cast<int>(utf8.size());
    argv = utf8Argv.data();
#endif
    StartTranslations();
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
    for (const Command& c : kCommands) {
        if (first == c.name) {
            return RunCommand(c, argc, argv);
        }
    }
    return UsageError("enn", std::string(_("unknown command")) + " '" + first + "'");
}
