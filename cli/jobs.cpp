#include "cli/jobs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/encrypt_command.h"
#include "cli/password_input.h"
#include "codec/enn.h"
#include "crypto/wipe.h"

namespace {

void Fail(const std::string& file, const std::string& what) {
    std::fprintf(stderr, "enn: %s: %s\n", file.c_str(), what.c_str());
}

// Why path cannot be read as a file, or "" when it can.
std::string Unreadable(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return std::string("cannot open: ") + std::strerror(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return "is a directory, not a file";
    }
    if (!S_ISREG(st.st_mode)) {
        return "is not a regular file";
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::string("cannot open: ") + std::strerror(errno);
    }
    close(fd);
    return "";
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The sizes the encoder writes: header and password chunk, whole chunks of
// 4008 bytes, and a last chunk of 16 to 4008 bytes in Blocks of 8.
bool IsContainerSize(long long size) {
    if (size < ENN_PAYLOAD_OFFSET) {
        return false;
    }
    const long long last = (size - ENN_PAYLOAD_OFFSET) % ENN_CHUNK_CIPHER;
    return last == 0 || (last >= 16 && last % 8 == 0);
}

// "" when the container at path is intact, else what is wrong with it.
std::string CheckContainer(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return std::string("cannot open: ") + std::strerror(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return "is a directory, not a container";
    }
    if (!S_ISREG(st.st_mode)) {
        return "is not a regular file";
    }
    if (st.st_size < ENN_PAYLOAD_OFFSET) {
        return "damaged: " + std::to_string(st.st_size) + " bytes, too short for a container";
    }
    switch (EnnVerifyFile(path.c_str())) {
        case ENN_OK:
            return IsContainerSize(st.st_size) ? ""
                                               : "damaged: its size does not fit the chunk layout";
        case ENN_ERR_DIGEST:
            return "damaged: the digest header does not match the content";
        case ENN_ERR_OPEN_INPUT: {
            const std::string why = Unreadable(path);
            return why.empty() ? "cannot open" : why;
        }
        default:
            return "cannot read";
    }
}

// A file this job created, removed on every way out unless kept.
class CreatedFile {
  public:
    // Creates an empty file with a fresh name beside output, or says why not.
    bool CreateBeside(const std::string& output, mode_t mode, std::string* why) {
        const size_t slash = output.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : output.substr(0, slash + 1);
        path_ = dir + "." + output.substr(slash + 1) + ".partial-XXXXXX";
        const int fd = mkstemp(path_.data());
        if (fd < 0) {
            *why = std::strerror(errno);
            path_.clear();
            return false;
        }
        const bool ok = fchmod(fd, mode) == 0 && fstat(fd, &created_) == 0;
        const int err = errno;
        close(fd);
        if (!ok) {
            *why = std::strerror(err);
            Remove();
            return false;
        }
        return true;
    }
    ~CreatedFile() { Remove(); }
    const std::string& path() const { return path_; }
    void Keep() { path_.clear(); }

  private:
    // Only while the name still leads to the very regular file made here.
    void Remove() {
        struct stat now;
        if (!path_.empty() && lstat(path_.c_str(), &now) == 0 && S_ISREG(now.st_mode) &&
            SameFile(now, created_)) {
            unlink(path_.c_str());
        }
        path_.clear();
    }

    std::string path_;
    struct stat created_ = {};
};

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Puts the finished plain file in place. Without force the name must still be
// free: link() fails rather than replace a file that appeared meanwhile.
bool Commit(CreatedFile& plain, const std::string& output, bool force, std::string* why) {
    if (!force) {
        if (link(plain.path().c_str(), output.c_str()) == 0) {
            return true;  // the temporary name goes with plain
        }
        if (errno == EEXIST) {
            *why = "already exists; use --force to replace it";
            return false;
        }
        // A file system without hard links: fall back to rename, name still free.
        struct stat st;
        if (lstat(output.c_str(), &st) == 0) {
            *why = "already exists; use --force to replace it";
            return false;
        }
    }
    if (rename(plain.path().c_str(), output.c_str()) != 0) {
        *why = std::string("cannot write: ") + std::strerror(errno);
        return false;
    }
    plain.Keep();
    return true;
}

// "" when output may receive the plain file of the container described by in.
std::string OutputProblem(const std::string& output, const struct stat& in, bool force,
                          mode_t* mode) {
    if (output.empty() || output.back() == '/') {
        return "names a directory, not a file";
    }
    struct stat target;
    if (stat(output.c_str(), &target) == 0) {
        if (S_ISDIR(target.st_mode)) {
            return "is a directory; name the plain file with -o";
        }
        if (SameFile(target, in)) {
            return "is the container itself; not replaced";
        }
        if (!S_ISREG(target.st_mode)) {
            return "is not a regular file; not replaced";
        }
    }
    struct stat link;
    if (lstat(output.c_str(), &link) == 0) {
        if (!force) {
            return "already exists; use --force to replace it";
        }
        // The replacement keeps the permissions of the file it replaces.
        if (S_ISREG(link.st_mode)) {
            *mode = link.st_mode & 07777;
        }
    } else if (errno != ENOENT) {
        return std::string("cannot create: ") + std::strerror(errno);
    }
    return "";
}

}  // namespace

int VerifyContainers(const std::vector<std::string>& paths) {
    int status = kExitOk;
    for (const std::string& path : paths) {
        const std::string problem = CheckContainer(path);
        if (problem.empty()) {
            std::printf("%s: intact\n", path.c_str());
        } else {
            std::fflush(stdout);  // keep the lines in the order of the files
            Fail(path, problem);
            status = kExitFailed;
        }
    }
    return status;
}

int DecryptContainer(const std::string& container, const std::string& output, bool force) {
    const std::string unreadable = Unreadable(container);
    struct stat in;
    if (!unreadable.empty() || stat(container.c_str(), &in) != 0) {
        Fail(container, unreadable.empty() ? "cannot open" : unreadable);
        return kExitFailed;
    }
    mode_t mode = NewFileMode();
    std::string problem = OutputProblem(output, in, force, &mode);
    if (!problem.empty()) {
        Fail(output, problem);
        return kExitFailed;
    }

    // The plain bytes go to a file of our own first, so that neither a failure
    // part-way nor a refused container leaves a partial file under output or
    // costs an existing one.
    CreatedFile plain;
    if (!plain.CreateBeside(output, mode, &problem)) {
        Fail(output, "cannot create: " + problem);
        return kExitFailed;
    }
    int result;
    {
        BuiltInKey key;
        result = EnnDecryptFile(key.get(), container.c_str(), plain.path().c_str());
    }
    switch (result) {
        case ENN_OK:
            if (!Commit(plain, output, force, &problem)) {
                Fail(output, problem);
                return kExitFailed;
            }
            std::printf("%s: decrypted to %s\n", container.c_str(), output.c_str());
            return kExitOk;
        case ENN_ERR_DIGEST:
            std::fputs("\n", stdout);  // ends the decoder's own diagnostic line
            std::fflush(stdout);
            Fail(container, "damaged: the digest header does not match the content; " + output +
                                " not written");
            return kExitFailed;
        case ENN_ERR_OPEN_INPUT:
            Fail(container, "cannot open");
            return kExitFailed;
        case ENN_ERR_CREATE_OUTPUT:
            Fail(output, "cannot create");
            return kExitFailed;
        default:
            Fail(container,
                 "damaged: a chunk does not decode, or reading or writing failed; partial plain "
                 "file removed, " +
                     output + " not written");
            return kExitFailed;
    }
}

int PrintPassword(const std::string& container) {
    const std::string unreadable = Unreadable(container);
    if (!unreadable.empty()) {
        Fail(container, unreadable);
        return kExitFailed;
    }
    char password[7] = {};
    int result;
    {
        BuiltInKey key;
        result = EnnReadPassword(key.get(), container.c_str(), password);
    }
    bool digits = result == ENN_OK;
    for (int i = 0; digits && i < 6; ++i) {
        digits = password[i] >= '0' && password[i] <= '9';
    }
    if (digits) {
        std::printf("%s\n", password);
    }
    SecureWipe(password, sizeof password);
    if (result == ENN_ERR_OPEN_INPUT) {
        Fail(container, "cannot open");
    } else if (result != ENN_OK) {
        Fail(container, "damaged: too short to hold a password, or unreadable");
    } else if (!digits) {
        Fail(container, "damaged: the password inside is not six digits");
    }
    return digits ? kExitOk : kExitFailed;
}

int EncryptWithCommand(const std::string& path, bool passwordFromStdin) {
    EncryptFields fields;
    fields.path.text = path;
    if (passwordFromStdin) {
        fields.password.text = ReadPasswordLine(stdin);
        fields.confirm.text = ReadPasswordLine(stdin);
    } else if (!AskPasswordOnTerminal(&fields.password.text, &fields.confirm.text)) {
        std::fprintf(stderr,
                     "enn: encrypt: no terminal to ask for the password on; use "
                     "--password-stdin\n");
        return kExitUsage;
    }
    const int result = RunEncryptCommand(fields);
    SecureWipe(fields.password.text.data(), fields.password.text.size());
    SecureWipe(fields.confirm.text.data(), fields.confirm.text.size());

    if (result == ENN_OK) {
        std::printf("%s\n", fields.status.text.c_str());
        return kExitOk;
    }
    const std::string file = TrimWhiteSpace(path);
    std::string message = fields.status.text;
    // The command's message is the window's; the reason after it is for the shell.
    if (result == ENN_ERR_OPEN_INPUT) {
        const std::string why = Unreadable(file);
        message += " (" + (why.empty() ? std::string("cannot be read") : why) + ")";
    } else if (result == ENN_ERR_CREATE_OUTPUT) {
        const std::string out = ContainerPathFor(file);
        struct stat st;
        const bool isDir = stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        message += " (" + out + (isDir ? " is a directory)" : ")");
    }
    if (file.empty()) {
        std::fprintf(stderr, "enn: %s\n", message.c_str());
    } else {
        Fail(file, message);
    }
    return kExitFailed;
}
