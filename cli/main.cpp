// enn: the command line for the receiving side of .enn containers and for
// scripts. Plain argument handling: a command, its options, its files.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/jobs.h"

namespace {

const char kExitStatusHelp[] =
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  a job failed: a file missing, unreadable, damaged, refused or not\n"
    "     writable, or the password refused by a check of encrypt\n"
    "  2  bad usage: unknown command or option, wrong number of files, or no\n"
    "     terminal to ask for the password on\n";

const char kToolHelp[] =
    "Usage: enn COMMAND [OPTION]... FILE...\n"
    "Verifies, decrypts and encrypts .enn containers under the built-in key.\n"
    "\n"
    "Commands:\n"
    "  verify FILE.enn...                  check each container's digest header\n"
    "  decrypt FILE.enn [-o OUT] [--force] write the plain file\n"
    "  password FILE.enn                   print the six-digit password inside\n"
    "  encrypt FILE [--password-stdin]     write FILE.enn\n"
    "\n"
    "'enn COMMAND --help' describes a command. Errors go to standard error, one\n"
    "line each, naming the file.\n";

const char kVerifyHelp[] =
    "Usage: enn verify FILE.enn...\n"
    "Checks that each container's digest header matches its content and that its\n"
    "size fits the container layout. Prints \"FILE.enn: intact\" for each intact\n"
    "container; each other file gets a line on standard error saying what is wrong.\n";

const char kDecryptHelp[] =
    "Usage: enn decrypt FILE.enn [-o OUT] [--force]\n"
    "Checks the container's digest header and writes the plain file, by default\n"
    "FILE (the container's name without .enn).\n"
    "\n"
    "  -o, --output OUT  write the plain file to OUT\n"
    "  -f, --force       replace OUT if it exists (never a directory, a device or\n"
    "                    the container itself)\n"
    "\n"
    "An existing file is never replaced without --force. The plain file appears\n"
    "under its name only once it is complete: a damaged container leaves no\n"
    "partial file behind and an existing OUT as it was.\n";

const char kPasswordHelp[] =
    "Usage: enn password FILE.enn\n"
    "Prints the six-digit password carried inside the container. The digest\n"
    "header is not consulted; 'enn verify' checks it.\n";

const char kEncryptHelp[] =
    "Usage: enn encrypt FILE [--password-stdin]\n"
    "Runs the window's Encrypt command: checks the path and the password, writes\n"
    "FILE.enn beside FILE (replacing an existing FILE.enn, as the window does) and\n"
    "prints the command's message, on standard output when the container is\n"
    "written and on standard error otherwise.\n"
    "\n"
    "The password and its confirmation are asked for on the terminal, without\n"
    "echo.\n"
    "  --password-stdin  read them from standard input instead: the password on\n"
    "                    the first line, the confirmation on the second (a missing\n"
    "                    second line is an empty confirmation)\n";

struct Command {
    const char* name;
    const char* help;
};

const Command kCommands[] = {
    {"verify", kVerifyHelp},
    {"decrypt", kDecryptHelp},
    {"password", kPasswordHelp},
    {"encrypt", kEncryptHelp},
};

int PrintHelp(const char* help) {
    std::printf("%s%s", help, kExitStatusHelp);
    return kExitOk;
}

int UsageError(const std::string& where, const std::string& what) {
    std::fprintf(stderr, "%s: %s; see '%s --help'\n", where.c_str(), what.c_str(), where.c_str());
    return kExitUsage;
}

// What one command was given.
struct Arguments {
    std::vector<std::string> files;
    std::string output;
    bool hasOutput = false;
    bool force = false;
    bool passwordStdin = false;
    bool help = false;
};

// Fills args from argv[first..]; returns "" or what is wrong.
std::string Parse(const std::string& command, int argc, char** argv, int first, Arguments* args) {
    bool options = true;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options || arg.size() < 2 || arg[0] != '-') {
            args->files.push_back(arg);
        } else if (arg == "--") {
            options = false;
        } else if (arg == "-h" || arg == "--help") {
            args->help = true;
        } else if (command == "decrypt" && (arg == "-o" || arg == "--output")) {
            if (i + 1 >= argc) {
                return "option '" + arg + "' needs a file name";
            }
            args->output = argv[++i];
            args->hasOutput = true;
        } else if (command == "decrypt" && arg.rfind("--output=", 0) == 0) {
            args->output = arg.substr(std::strlen("--output="));
            args->hasOutput = true;
        } else if (command == "decrypt" && (arg == "-f" || arg == "--force")) {
            args->force = true;
        } else if (command == "encrypt" && arg == "--password-stdin") {
            args->passwordStdin = true;
        } else {
            return "unknown option '" + arg + "'";
        }
    }
    return "";
}

int RunCommand(const Command& command, int argc, char** argv) {
    const std::string name = command.name;
    const std::string where = std::string("enn ") + command.name;
    Arguments args;
    const std::string problem = Parse(name, argc, argv, 2, &args);
    if (args.help) {
        return PrintHelp(command.help);
    }
    if (!problem.empty()) {
        return UsageError(where, problem);
    }
    if (args.files.empty()) {
        return UsageError(where, "no file given");
    }
    if (name == "verify") {
        return VerifyContainers(args.files);
    }
    if (args.files.size() > 1) {
        return UsageError(where, "one file at a time");
    }
    const std::string& file = args.files[0];
    if (name == "password") {
        return PrintPassword(file);
    }
    if (name == "encrypt") {
        return EncryptWithCommand(file, args.passwordStdin);
    }
    std::string output = args.output;
    if (!args.hasOutput) {
        const std::string suffix = ".enn";
        const bool named = file.size() > suffix.size() &&
                           file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                           file[file.size() - suffix.size() - 1] != '/';
        if (!named) {
            return UsageError(where,
                              "'" + file + "' does not end in .enn; name the output with -o");
        }
        output = file.substr(0, file.size() - suffix.size());
    }
    return DecryptContainer(file, output, args.force);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return UsageError("enn", "no command given");
    }
    const std::string first = argv[1];
    if (first == "-h" || first == "--help") {
        return PrintHelp(kToolHelp);
    }
    for (const Command& command : kCommands) {
        if (first == command.name) {
            return RunCommand(command, argc, argv);
        }
    }
    return UsageError("enn", "unknown command '" + first + "'");
}
