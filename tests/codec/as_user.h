// What the file layer's POSIX tests share: acting as another user in a
// child process, and a file system without unnamed files.
#ifndef VELTRANE_TESTS_CODEC_AS_USER_H
#define VELTRANE_TESTS_CODEC_AS_USER_H

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

// Two users that exist nowhere else, each with a group of the same number.
constexpr uid_t kUser = 12345;
constexpr uid_t kOtherUser = 12346;

// Runs body in a child process as user, in group (by default the group of
// the same number), and returns its exit status (-1 on a signal, 99 when the
// switch failed). user 0 stays root.
template <typename F>
int AsUser(uid_t user, F body, gid_t group = static_cast<gid_t>(-1)) {
    if (group == static_cast<gid_t>(-1)) {
        group = user;
    }
    const pid_t child = fork();
    if (child == 0) {
        if (user != 0 && (setgroups(0, nullptr) != 0 || setresgid(group, group, group) != 0 ||
                          setresuid(user, user, user) != 0)) {
            _exit(99);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline struct stat StatOf(const std::string& path) {
    struct stat st = {};
    lstat(path.c_str(), &st);
    return st;
}

// open() as on a vfat stick or many network shares: no unnamed files.
inline int OpenWithoutUnnamedFiles(const char* path, int flags, mode_t mode) {
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return open(path, flags, mode);
}

#endif
