// What a power cut can leave of each file operation. The file-system calls an
// operation makes are recorded through the layer's table of system calls;
// every prefix of them is then replayed over the folders as they were, under
// two models of what the disk keeps: every call in order, and the least POSIX
// promises (each folder's entries, and each file's content and looks, keep
// what their own fsync flushed, and of what came after it either nothing or
// all up to the cut, each file and folder on its own). In every state: every
// file but the target (the input among them) is as it was; the target holds
// the earlier file or the new one whole, but on the one road the caller
// allowed to leave it part new, part old (a copy in place); no file holding
// new bytes can be read by anyone the target did not admit; once the
// operation reported success, the new file is there whole with its final
// looks; and an operation refused leaves the target as it was throughout.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "as_user.h"
#include "codec/enn.h"
#include "codec/enn_syscalls.h"
#include "test_util.h"

namespace {

const char kKey[] = "Karsholm payment batch key";

// One change a call makes to one file or folder ("object").
struct Change {
    enum Kind { kWrite, kTruncate, kLooks, kFlush, kAdd, kRemove } kind = kFlush;
    int object = -1;
    long long offset = 0;  // kWrite: where; kTruncate: the size
    Bytes data;            // kWrite
    mode_t mode = 0;       // kLooks
    uid_t uid = 0;
    std::string name;  // kAdd, kRemove: the entry in folder object
    int target = -1;   // kAdd: the object the entry names
};

Change Of(Change::Kind kind, int object) {
    Change c;
    c.kind = kind;
    c.object = object;
    return c;
}

struct Object {
    bool folder = false;
    Bytes data;
    mode_t mode = 0;
    uid_t uid = 0;
    std::map<std::string, int> entries;
};

// The objects as the recording started (and those made during it, as they
// were made) and the calls, each a list of changes.
struct Recording {
    std::vector<Object> start;
    std::map<std::pair<dev_t, ino_t>, int> ids;
    std::map<int, int> fds;
    std::vector<std::vector<Change>> calls;

    int Make(const struct stat& st) {
        Object o;
        o.folder = S_ISDIR(st.st_mode);
        o.mode = st.st_mode & 07777;
        o.uid = st.st_uid;
        start.push_back(o);
        ids[{st.st_dev, st.st_ino}] = static_cast<int>(start.size()) - 1;
        return static_cast<int>(start.size()) - 1;
    }
    int IdOf(const struct stat& st) const {
        const auto it = ids.find({st.st_dev, st.st_ino});
        return it == ids.end() ? -1 : it->second;
    }
    int IdAt(const std::string& path, bool follow = false) const {
        struct stat st;
        return (follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) == 0 ? IdOf(st) : -1;
    }
    int FolderOf(const std::string& path) const {
        return IdAt(std::filesystem::path(path).parent_path().string(), true);
    }
    static std::string NameOf(const std::string& path) {
        return std::filesystem::path(path).filename().string();
    }
    void Snapshot(const std::string& path) {
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        const int id = Make(st);
        if (!S_ISDIR(st.st_mode)) {
            start[id].data = ReadFile(path);
            return;
        }
        for (const std::string& name : Listing(path)) {
            Snapshot(path + "/" + name);
            start[id].entries[name] = IdAt(path + "/" + name);
        }
    }
    void Add(std::vector<Change>* call, const std::string& path, int target) {
        const int folder = FolderOf(path);
        if (folder >= 0 && target >= 0) {
            Change c = Of(Change::kAdd, folder);
            c.name = NameOf(path);
            c.target = target;
            call->push_back(c);
        }
    }
    void Remove(std::vector<Change>* call, const std::string& path) {
        const int folder = FolderOf(path);
        if (folder >= 0) {
            Change c = Of(Change::kRemove, folder);
            c.name = NameOf(path);
            call->push_back(c);
        }
    }
    void Looks(int fd) {
        struct stat st;
        const auto it = fds.find(fd);
        if (it != fds.end() && fstat(fd, &st) == 0) {
            Change c = Of(Change::kLooks, it->second);
            c.mode = st.st_mode & 07777;
            c.uid = st.st_uid;
            calls.push_back({c});
        }
    }
};

Recording* g_rec = nullptr;

// The recording calls: each makes the real call, then notes what it changed.
int RecOpen(const char* path, int flags, mode_t mode) {
    const int fd = open(path, flags, mode);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        return fd;
    }
    const bool made = (flags & O_TMPFILE) == O_TMPFILE || (flags & O_EXCL) != 0;
    const int id = made ? g_rec->Make(st) : g_rec->IdOf(st);
    if (id >= 0) {
        g_rec->fds[fd] = id;
    }
    if (made && (flags & O_TMPFILE) != O_TMPFILE) {
        g_rec->calls.emplace_back();
        g_rec->Add(&g_rec->calls.back(), path, id);
    }
    return fd;
}
int RecClose(int fd) {
    g_rec->fds.erase(fd);
    return close(fd);
}
void RecWrite(int fd, const void* buf, ssize_t put, off_t at) {
    const auto it = g_rec->fds.find(fd);
    if (put > 0 && it != g_rec->fds.end()) {
        const auto* bytes = static_cast<const unsigned char*>(buf);
        Change c = Of(Change::kWrite, it->second);
        c.offset = at;
        c.data.assign(bytes, bytes + put);
        g_rec->calls.push_back({c});
    }
}
ssize_t RecWriteAppend(int fd, const void* buf, size_t size) {
    const ssize_t put = write(fd, buf, size);
    RecWrite(fd, buf, put, lseek(fd, 0, SEEK_CUR) - put);
    return put;
}
ssize_t RecPwrite(int fd, const void* buf, size_t size, off_t at) {
    const ssize_t put = pwrite(fd, buf, size, at);
    RecWrite(fd, buf, put, at);
    return put;
}
int RecFsync(int fd) {
    const int r = fsync(fd);
    const auto it = g_rec->fds.find(fd);
    if (r == 0 && it != g_rec->fds.end()) {
        g_rec->calls.push_back({Of(Change::kFlush, it->second)});
    }
    return r;
}
int RecFtruncate(int fd, off_t size) {
    const int r = ftruncate(fd, size);
    const auto it = g_rec->fds.find(fd);
    if (r == 0 && it != g_rec->fds.end()) {
        Change c = Of(Change::kTruncate, it->second);
        c.offset = size;
        g_rec->calls.push_back({c});
    }
    return r;
}
int RecFchmod(int fd, mode_t mode) {
    const int r = fchmod(fd, mode);
    g_rec->Looks(fd);
    return r;
}
int RecFchown(int fd, uid_t uid, gid_t gid) {
    const int r = fchown(fd, uid, gid);
    g_rec->Looks(fd);
    return r;
}
int RecFsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
    const int r = fsetxattr(fd, name, value, size, flags);
    g_rec->Looks(fd);  // an access ACL sets the permission bits too
    return r;
}
int RecLinkat(int fromdir, const char* from, int todir, const char* to, int flags) {
    const int r = linkat(fromdir, from, todir, to, flags);
    if (r == 0) {
        g_rec->calls.emplace_back();
        g_rec->Add(&g_rec->calls.back(), to, g_rec->IdAt(to));
    }
    return r;
}
int RecLink(const char* from, const char* to) {
    return RecLinkat(AT_FDCWD, from, AT_FDCWD, to, 0);
}
int RecRename(const char* from, const char* to) {
    const int moved = g_rec->IdAt(from);
    const int r = rename(from, to);
    if (r == 0) {
        g_rec->calls.emplace_back();
        g_rec->Remove(&g_rec->calls.back(), from);
        g_rec->Add(&g_rec->calls.back(), to, moved);
    }
    return r;
}
int RecUnlink(const char* path) {
    const int r = unlink(path);
    if (r == 0) {
        g_rec->calls.emplace_back();
        g_rec->Remove(&g_rec->calls.back(), path);
    }
    return r;
}
int RecMkdir(const char* path, mode_t mode) {
    const int r = mkdir(path, mode);
    struct stat st;
    if (r == 0 && lstat(path, &st) == 0) {
        g_rec->calls.emplace_back();
        g_rec->Add(&g_rec->calls.back(), path, g_rec->Make(st));
    }
    return r;
}
int RecRmdir(const char* path) {
    const int r = rmdir(path);
    if (r == 0) {
        g_rec->calls.emplace_back();
        g_rec->Remove(&g_rec->calls.back(), path);
    }
    return r;
}

// Where the operation meets a folder that takes no new file, or a sticky one.
std::string g_home;
std::string g_target;
bool g_noNewFile = false;
bool InHome(const char* path) {
    return std::filesystem::path(path).parent_path() == g_home;
}
int NoNewFile(const char* path, int flags, mode_t mode) {
    if (((flags & O_TMPFILE) == O_TMPFILE &&
         std::filesystem::path(path) / "" == std::filesystem::path(g_home) / "") ||
        ((flags & O_CREAT) != 0 && InHome(path))) {
        errno = EACCES;
        return -1;
    }
    return RecOpen(path, flags, mode);
}
int NoNewFolder(const char* path, mode_t mode) {
    if (InHome(path)) {
        errno = EACCES;
        return -1;
    }
    return RecMkdir(path, mode);
}
int NoRenameOverTarget(const char* from, const char* to) {
    if (to == g_target) {
        errno = EPERM;
        return -1;
    }
    return RecRename(from, to);
}
int g_withoutUnnamed = 0;
int OpenMaybeUnnamed(const char* path, int flags, mode_t mode) {
    if (g_withoutUnnamed && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return g_noNewFile ? NoNewFile(path, flags, mode) : RecOpen(path, flags, mode);
}

void Record(Recording* rec, bool noNewFile, bool sticky) {
    g_rec = rec;
    g_noNewFile = noNewFile;
    g_ennSys.open = OpenMaybeUnnamed;
    g_ennSys.close = RecClose;
    g_ennSys.write = RecWriteAppend;
    g_ennSys.pwrite = RecPwrite;
    g_ennSys.fsync = RecFsync;
    g_ennSys.ftruncate = RecFtruncate;
    g_ennSys.fchmod = RecFchmod;
    g_ennSys.fchown = RecFchown;
    g_ennSys.fsetxattr = RecFsetxattr;
    g_ennSys.link = RecLink;
    g_ennSys.linkat = RecLinkat;
    g_ennSys.rename = sticky ? NoRenameOverTarget : RecRename;
    g_ennSys.unlink = RecUnlink;
    g_ennSys.mkdir = noNewFile ? NoNewFolder : RecMkdir;
    g_ennSys.rmdir = RecRmdir;
}

// The objects after the first `cut` calls, each keeping all its changes up to
// there (keepAll) or only those up to its own last flush.
std::vector<Object> Replay(const Recording& rec, size_t cut, const std::vector<bool>& keepAll) {
    std::vector<size_t> flushed(rec.start.size(), 0);
    for (size_t call = 0; call < cut; ++call) {
        for (const Change& c : rec.calls[call]) {
            if (c.kind == Change::kFlush) {
                flushed[c.object] = call + 1;
            }
        }
    }
    std::vector<Object> state = rec.start;
    for (size_t call = 0; call < cut; ++call) {
        for (const Change& c : rec.calls[call]) {
            if (!keepAll[c.object] && call >= flushed[c.object]) {
                continue;
            }
            Object& o = state[c.object];
            switch (c.kind) {
                case Change::kWrite:
                    if (o.data.size() < c.offset + c.data.size()) {
                        o.data.resize(c.offset + c.data.size());
                    }
                    std::copy(c.data.begin(), c.data.end(), o.data.begin() + c.offset);
                    break;
                case Change::kTruncate:
                    o.data.resize(static_cast<size_t>(c.offset));
                    break;
                case Change::kLooks:
                    o.mode = c.mode;
                    o.uid = c.uid;
                    break;
                case Change::kAdd:
                    o.entries[c.name] = c.target;
                    break;
                case Change::kRemove:
                    o.entries.erase(c.name);
                    break;
                case Change::kFlush:
                    break;
            }
        }
    }
    return state;
}

// Where the operation puts its output: aside and renamed or linked into
// place, or by a copy in place where the folder takes no new file, or in a
// sticky folder that refuses the rename over another user's file.
enum class Road { kAside, kNoNewFile, kSticky };

// What the operation was meant to do, and what each state is checked for.
struct Expected {
    std::string target;  // relative to the world's root
    bool hadEarlier = false;
    Bytes earlier;
    mode_t earlierMode = 0;
    uid_t earlierUid = 0;
    Bytes now;  // the new file, as the operation left it
    mode_t nowMode = 0;
    uid_t nowUid = 0;
    bool inPlace = false;  // a copy in place the caller allowed: not whole across a cut
    bool refused = false;  // the target is to stay as it was
};

bool Private(const Object& o) {
    return (o.mode & 077) == 0 && o.uid == geteuid();
}

using Files = std::map<std::string, std::pair<int, bool>>;

// Every file reachable by a name from folder, by its path: the object, and
// whether a private folder stands on the way.
void Walk(const std::vector<Object>& state, int folder, const std::string& at, bool hidden,
          Files* files) {
    for (const auto& [name, id] : state[folder].entries) {
        if (state[id].folder) {
            Walk(state, id, at + name + "/", hidden || Private(state[id]), files);
        } else {
            (*files)[at + name] = {id, hidden};
        }
    }
}

// Empty when the state holds, start being the world as it was; else what is
// wrong in it.
std::string Check(const std::vector<Object>& state, const std::vector<Object>& start,
                  const Expected& e, bool succeeded) {
    Files before;
    Walk(start, 0, "", false, &before);
    Files files;
    Walk(state, 0, "", false, &files);
    for (const auto& [path, was] : before) {
        const auto found = files.find(path);
        if (path != e.target && (found == files.end() || found->second.first != was.first ||
                                 state[was.first].data != start[was.first].data ||
                                 state[was.first].mode != start[was.first].mode)) {
            return path + " is not as it was";
        }
    }
    const Object* target = nullptr;
    for (const auto& [path, at] : files) {
        const Object& o = state[at.first];
        if (path == e.target) {
            target = &o;
        }
        const bool fresh = !o.data.empty() && o.data != start[at.first].data;
        if (!fresh) {
            continue;
        }
        if (path == e.target) {
            const mode_t admitted = e.nowMode | (e.hadEarlier ? e.earlierMode : 0);
            if ((o.mode & ~admitted & 0777) != 0 ||
                (o.uid != e.nowUid && !(e.hadEarlier && o.uid == e.earlierUid))) {
                return path + " shows new bytes to more than the target admits";
            }
        } else if (!at.second && !Private(o)) {
            return path + " holds new bytes and others may read it";
        }
    }
    const bool earlier = target == nullptr
                             ? !e.hadEarlier
                             : e.hadEarlier && target->data == e.earlier &&
                                   target->mode == e.earlierMode && target->uid == e.earlierUid;
    if (e.refused) {
        return earlier ? "" : "refused, but the target is not as it was";
    }
    const bool whole = target != nullptr && target->data == e.now && target->mode == e.nowMode &&
                       target->uid == e.nowUid;
    if (succeeded) {
        return whole ? "" : "reported done, but the new file is not there whole with its looks";
    }
    return earlier || whole || e.inPlace ? "" : "the target is neither file whole";
}

class PowerCut : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        for (const std::string& folder : {world, home, tmp, src}) {
            ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        }
        ASSERT_EQ(chmod(tmp.c_str(), 01777), 0);
        setenv("TMPDIR", tmp.c_str(), 1);
        WriteFile(in, PseudoRandomBytes(200000, 3));  // copied in place in four steps
        ASSERT_EQ(EnnEncryptFile("111111", kKey, in.c_str(), container.c_str()), ENN_OK);
        g_withoutUnnamed = GetParam() ? 0 : 1;
    }
    void TearDown() override {
        EnnRestoreSystemCalls();
        unsetenv("TMPDIR");
        g_home.clear();
        g_target.clear();
        g_noNewFile = false;
    }

    // Makes an earlier file at the target, another user's where the test
    // may give it away, readable by its group.
    void Earlier(const std::string& target) {
        WriteFile(target, PseudoRandomBytes(5000, 9));
        ASSERT_EQ(chmod(target.c_str(), 0640), 0);
        if (geteuid() == 0) {
            ASSERT_EQ(chown(target.c_str(), kUser, kUser), 0);
        }
    }

    // Records op, which is to return result, on road, then checks every
    // state a cut can leave.
    void Holds(const std::string& target, const std::function<int()>& op, Road road = Road::kAside,
               int result = ENN_OK) {
        const bool noNewFile = road == Road::kNoNewFile;
        const bool sticky = road == Road::kSticky;
        Expected e;
        e.target = target.substr(world.size() + 1);
        e.inPlace = road != Road::kAside && result == ENN_OK;
        e.refused = result != ENN_OK;
        e.hadEarlier = FileExists(target);
        if (e.hadEarlier) {
            e.earlier = ReadFile(target);
            e.earlierMode = StatOf(target).st_mode & 07777;
            e.earlierUid = StatOf(target).st_uid;
        }
        std::set<std::string> left = Listing(home);
        left.insert(std::filesystem::path(target).filename().string());
        Recording rec;
        rec.Snapshot(world);
        if (noNewFile || sticky) {
            g_home = home;
            g_target = target;
        }
        Record(&rec, noNewFile, sticky);
        ASSERT_EQ(op(), result);
        EnnRestoreSystemCalls();
        e.now = ReadFile(target);
        e.nowMode = StatOf(target).st_mode & 07777;
        e.nowUid = StatOf(target).st_uid;
        if (road != Road::kAside) {
            EXPECT_EQ(e.nowUid, e.earlierUid) << "a copy in place keeps the file";
        }
        // Nothing of the writer's is left once it is done.
        EXPECT_EQ(Listing(home), left);
        EXPECT_TRUE(Listing(tmp).empty());

        const size_t n = rec.start.size();
        ASSERT_LE(n, 20u);
        size_t states = 0;
        for (size_t cut = 0; cut <= rec.calls.size(); ++cut) {
            // The objects that a cut here can leave short of their changes.
            std::vector<int> loose;
            std::vector<bool> changed(n, false);
            std::vector<bool> flushedLast(n, false);
            for (size_t call = 0; call < cut; ++call) {
                for (const Change& c : rec.calls[call]) {
                    changed[c.object] = true;
                    flushedLast[c.object] = c.kind == Change::kFlush;
                }
            }
            for (size_t i = 0; i < n; ++i) {
                if (changed[i] && !flushedLast[i]) {
                    loose.push_back(static_cast<int>(i));
                }
            }
            ASSERT_LE(loose.size(), 10u);
            for (unsigned mask = 0; mask < (1u << loose.size()); ++mask) {
                std::vector<bool> keepAll(n, false);
                for (size_t i = 0; i < loose.size(); ++i) {
                    keepAll[loose[i]] = (mask >> i & 1) != 0;
                }
                const std::string wrong =
                    Check(Replay(rec, cut, keepAll), rec.start, e, cut == rec.calls.size());
                ++states;
                if (!wrong.empty()) {
                    ADD_FAILURE() << wrong << ", cut after " << cut << " of " << rec.calls.size()
                                  << " calls"
                                  << (mask + 1 == (1u << loose.size()) ? ", all in order"
                                                                       : ", POSIX's least");
                    return;
                }
            }
        }
        EXPECT_GT(states, rec.calls.size());
    }

    TempDir dir;
    std::string world = dir.File("world");
    std::string home = world + "/home";
    std::string tmp = world + "/tmp";
    std::string src = world + "/src";
    std::string in = src + "/batch.txt";
    std::string container = src + "/batch.txt.enn";
    std::string out = home + "/batch.out";
    std::string enn = home + "/batch.txt.enn";
};

TEST_P(PowerCut, EncryptingANewContainer) {
    Holds(enn, [&] { return EnnEncryptFile("222222", kKey, in.c_str(), enn.c_str()); });
}

TEST_P(PowerCut, EncryptingOverAnEarlierContainer) {
    Earlier(enn);
    Holds(enn, [&] { return EnnEncryptFile("222222", kKey, in.c_str(), enn.c_str()); });
}

TEST_P(PowerCut, DecryptingANewFile) {
    Holds(out, [&] { return EnnDecryptFile(kKey, container.c_str(), out.c_str()); });
}

TEST_P(PowerCut, DecryptingANewFileOnlyWhileTheNameIsFree) {
    Holds(out, [&] {
        int fault = 0;
        return EnnDecryptFileEx(kKey, container.c_str(), out.c_str(), ENN_KEEP_EXISTING, &fault);
    });
}

TEST_P(PowerCut, DecryptingOverAnEarlierFile) {
    Earlier(out);
    Holds(out, [&] { return EnnDecryptFile(kKey, container.c_str(), out.c_str()); });
}

TEST_P(PowerCut, CopyingInPlaceWhereTheFolderTakesNoNewFile) {
    Earlier(out);
    Holds(
        out,
        [&] {
            return EnnDecryptFileEx(kKey, container.c_str(), out.c_str(), ENN_ALLOW_IN_PLACE,
                                    nullptr);
        },
        Road::kNoNewFile);
}

TEST_P(PowerCut, CopyingInPlaceInAStickyFolder) {
    Earlier(enn);
    Holds(
        enn,
        [&] {
            return EnnEncryptStreamPlaced("222222", kKey, in.c_str(), enn.c_str(),
                                          ENN_ALLOW_IN_PLACE, nullptr, nullptr, nullptr, nullptr,
                                          nullptr);
        },
        Road::kSticky);
}

// Without the caller's consent to a copy in place, nothing is touched.
TEST_P(PowerCut, ACopyInPlaceNotAllowedTouchesNothing) {
    Earlier(out);
    Earlier(enn);
    for (const Road road : {Road::kNoNewFile, Road::kSticky}) {
        Holds(
            out, [&] { return EnnDecryptFile(kKey, container.c_str(), out.c_str()); }, road,
            ENN_ERR_CREATE_OUTPUT);
        Holds(
            enn, [&] { return EnnEncryptFile("222222", kKey, in.c_str(), enn.c_str()); }, road,
            ENN_ERR_CREATE_OUTPUT);
    }
}

INSTANTIATE_TEST_SUITE_P(UnnamedFiles, PowerCut, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "WithUnnamedFiles" : "WithoutUnnamedFiles";
                         });

}  // namespace
#endif
