// morvanfn-upgrade on Linux (platform.h): every file below a directory the
// run holds open is named relative to that handle, made with O_EXCL or
// O_NOFOLLOW, and removed with unlinkat after its identity is checked.
#include "platform.h"

#include "client.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace upgrade {

namespace {

[[noreturn]] void fail(const std::string &what, const std::string &path)
{
    throw Failure(what + " " + path + ": " + std::strerror(errno));
}

FileId id_of(const struct stat &st)
{
    return {uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

bool owned_by_us(const struct stat &st)
{
    return st.st_uid == geteuid();
}

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

// The names in the directory open as fd, read through a descriptor of its own.
std::vector<std::string> names_at(int fd)
{
    std::vector<std::string> names;
    const int copy = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0)
        return names;
    DIR *d = fdopendir(copy);
    if (!d) {
        close(copy);
        return names;
    }
    while (const dirent *e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    closedir(d);
    return names;
}

// Everything below the directory open as fd, which is this run's own:
// links are removed as links, directories entered by handle.
void empty_at(int fd)
{
    for (const std::string &n : names_at(fd)) {
        struct stat st;
        if (fstatat(fd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            Fd sub(openat(fd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat now;
            if (sub.fd < 0 || fstat(sub.fd, &now) != 0 || id_of(now) != id_of(st))
                continue;
            empty_at(sub.fd);
            unlinkat(fd, n.c_str(), AT_REMOVEDIR);
        } else {
            unlinkat(fd, n.c_str(), 0);
        }
    }
}

// A group that only OWNER is in: no one else can write through it.  This is
// the user-private group Debian gives each user, whose directories are
// group-writable under umask 002 (Debian 13's default); a group of no one is
// not counted as one (setgid programs use those).
bool owners_own_group(gid_t gid, uid_t owner)
{
    const struct passwd *o = getpwuid(owner);
    if (!o)
        return false;
    const std::string owner_name = o->pw_name;
    bool member = o->pw_gid == gid;
    const struct group *g = getgrgid(gid);
    if (!g)
        return false;
    for (char **name = g->gr_mem; *name; ++name) {
        if (owner_name != *name)
            return false;
        member = true;
    }
    setpwent();
    bool alone = true;
    for (const struct passwd *p; alone && (p = getpwent());)
        alone = p->pw_gid != gid || p->pw_uid == owner;
    endpwent();
    return member && alone;
}

bool root_or_us(const struct stat &st)
{
    return st.st_uid == 0 || st.st_uid == geteuid();
}

bool others_write(const struct stat &st)
{
    return (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && !owners_own_group(st.st_gid, st.st_uid));
}

// Why someone else could put or replace an entry in the directory open as
// fd (named name in messages), or in one above it; nullopt when no one
// can.  Above it, a directory others may write is safe when sticky (as
// /tmp) and the entry on the way is root's or ours, which no one else may
// then rename.  With sticky, fd itself may be such a directory: others may
// add entries, but not replace this user's.
std::optional<std::string> unsafe_at(int fd, std::string name, bool sticky = false)
{
    Fd cur(openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat below = {};
    for (bool first = true;; first = false) {
        struct stat st;
        if (cur.fd < 0 || fstat(cur.fd, &st) != 0)
            return "cannot read " + name;
        if (!root_or_us(st))
            return name + " belongs to another user, who could put something there";
        if (others_write(st) && (first ? !sticky || !(st.st_mode & S_ISVTX) : !(st.st_mode & S_ISVTX) || !root_or_us(below)))
            return name + " is writable by others, who could put something there";
        const int up = openat(cur.fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat ust;
        if (up < 0 || fstat(up, &ust) != 0) {
            if (up >= 0)
                close(up);
            return "cannot read the directory above " + name;
        }
        if (id_of(ust) == id_of(st)) {
            close(up);
            return std::nullopt;
        }
        close(cur.fd);
        cur.fd = up;
        below = st;
        name = directory_of(name);
    }
}

void copy_file(const std::string &from, const std::string &to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    if (!in || !out)
        fail("cannot copy", from + " to " + to);
    // An empty file copies as nothing: no stale errno, no failure.
    if (in.peek() != std::ifstream::traits_type::eof() && !(out << in.rdbuf()))
        fail("cannot copy", from + " to " + to);
    if (!out.flush())
        fail("cannot copy", from + " to " + to);
}

} // namespace

// --- paths -------------------------------------------------------------------------

std::optional<std::string> real_directory(const std::string &dir)
{
    char *resolved = realpath(dir.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string d = resolved;
    std::free(resolved);
    if (!is_directory(d))
        return std::nullopt;
    return d;
}

bool entry_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_file(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> entries(const std::string &dir)
{
    Fd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.fd < 0 ? std::vector<std::string>() : names_at(fd.fd);
}

void make_directory(const std::string &path)
{
    if (mkdir(path.c_str(), 0700) != 0)
        fail("cannot make the directory", path);
}

// Links are followed here: Debian links the messages and intl's
// configuration from /etc.  Copies, never symbolic links: Firebird 4
// refuses a module reached through one.
void link_or_copy(const std::string &from, const std::string &to)
{
    char *resolved = realpath(from.c_str(), nullptr);
    const std::string source = resolved ? resolved : from;
    std::free(resolved);
    if (link(source.c_str(), to.c_str()) != 0)
        copy_file(source, to);
}

std::optional<FileId> identity_of(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return id_of(st);
}

// --- Directory -------------------------------------------------------------------

Directory::Directory(const std::string &path) : path_(path)
{
    fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0)
        fail("cannot open the directory", path);
    id_ = id_of(st);
}

Directory::Directory(Directory &&other) noexcept : path_(std::move(other.path_)), id_(other.id_), fd_(other.fd_)
{
    other.fd_ = -1;
}

Directory::~Directory()
{
    if (fd_ >= 0)
        close(fd_);
}

std::optional<Directory::Entry> Directory::entry(const std::string &name) const
{
    struct stat st;
    if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    Entry e;
    e.id = id_of(st);
    e.regular = S_ISREG(st.st_mode);
    e.directory = S_ISDIR(st.st_mode);
    e.link = S_ISLNK(st.st_mode);
    e.owned = owned_by_us(st);
    e.links = unsigned(st.st_nlink);
    return e;
}

std::vector<std::string> Directory::names() const
{
    return names_at(fd_);
}

Directory Directory::make_private(const std::string &name) const
{
    if (mkdirat(fd_, name.c_str(), 0700) != 0)
        fail("cannot make the directory", join(path_, name));
    Directory d;
    d.path_ = join(path_, name);
    d.fd_ = openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (d.fd_ < 0 || fstat(d.fd_, &st) != 0)
        fail("cannot open the directory", d.path_);
    // Made by this run, or replaced before it was opened: then not this
    // user's, or not private.
    if (!owned_by_us(st) || (st.st_mode & 077))
        throw Failure(d.path_ + " was replaced as soon as it was made: someone else writes " + path_);
    d.id_ = id_of(st);
    return d;
}

bool Directory::remove_own(const std::string &name, std::optional<FileId> id) const
{
    struct stat st;
    if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !owned_by_us(st) || (id && *id != id_of(st)))
        return false;
    if (S_ISREG(st.st_mode))
        return unlinkat(fd_, name.c_str(), 0) == 0;
    if (!S_ISDIR(st.st_mode))
        return false;
    Fd sub(openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat now;
    if (sub.fd < 0 || fstat(sub.fd, &now) != 0 || id_of(now) != id_of(st))
        return false;
    empty_at(sub.fd);
    return unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0;
}

std::optional<std::string> Directory::unsafe() const
{
    return unsafe_at(fd_, path_, true);
}

// --- HeldFile ---------------------------------------------------------------------

HeldFile::HeldFile(const Directory &dir, const std::string &name)
{
    const std::string path = join(dir.path(), name);
    fd_ = openat(dir.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0)
        fail("cannot open", path);
    if (!S_ISREG(st.st_mode) || !owned_by_us(st) || st.st_nlink != 1)
        throw Failure(path + " is not the file this run made (another file, or more than one name for it)");
    id_ = id_of(st);
}

HeldFile::~HeldFile()
{
    if (fd_ >= 0)
        close(fd_);
}

void HeldFile::give_to_owner_of(const Directory &dir)
{
    struct stat st;
    if (geteuid() != 0)
        return;
    if (fstat(dir.fd(), &st) != 0 || fchown(fd_, st.st_uid, st.st_gid) != 0)
        fail("cannot give the database to the owner of", dir.path());
}

HeldFile::Published HeldFile::publish(const Directory &from, const std::string &from_name, const Directory &dir,
                                      const std::string &name)
{
    // A link to this very file, through its descriptor: fails with EEXIST
    // where anything is at name, a dangling link included.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (linkat(AT_FDCWD, self.c_str(), dir.fd(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        from.remove_own(from_name, id_);
        return Published::done;
    }
    if (errno == EEXIST)
        return Published::occupied;
    // No hard links here: a move out of the run's own directory, which no
    // one else can change, that replaces nothing.
    const auto e = from.entry(from_name);
    if (!e || e->id != id_)
        return Published::impossible;
    if (renameat2(from.fd(), from_name.c_str(), dir.fd(), name.c_str(), RENAME_NOREPLACE) == 0)
        return Published::done;
    return errno == EEXIST ? Published::occupied : Published::impossible;
}

bool engine_holds(const FileId &id)
{
    Fd fds(open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fds.fd < 0)
        return false;
    for (const std::string &n : names_at(fds.fd)) {
        struct stat st;
        if (fstat(std::atoi(n.c_str()), &st) == 0 && S_ISREG(st.st_mode) && id_of(st) == id)
            return true;
    }
    return false;
}

// --- the lock --------------------------------------------------------------------

TargetLock::TargetLock(const Directory &dir, const std::string &name) : dir_(dir), name_(name)
{
    // Taken on the file that is at name once held: a run that ends removes
    // it, and one that opened the removed file meanwhile tries again.
    for (;;) {
        fd_ = openat(dir.fd(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        struct stat st;
        if (fd_ < 0 || fstat(fd_, &st) != 0)
            fail("cannot make the lock file", path());
        if (!S_ISREG(st.st_mode))
            throw Failure(path() + " is not a plain file: something else is at the lock's name");
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        id_ = id_of(st);
        const auto now = dir.entry(name);
        if (now && now->id == id_)
            break;
        close(fd_);
    }
    held = true;
}

TargetLock::~TargetLock()
{
    if (fd_ >= 0) {
        if (held) {
            const auto now = dir_.entry(name_);
            if (now && now->id == id_)
                unlinkat(dir_.fd(), name_.c_str(), 0);
        }
        close(fd_);
    }
}

std::string TargetLock::path() const
{
    return join(dir_.path(), name_);
}

bool lock_held(const Directory &dir, const std::string &name)
{
    Fd fd(openat(dir.fd(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.fd < 0)
        return errno != ENOENT;
    return flock(fd.fd, LOCK_EX | LOCK_NB) != 0;
}

// --- library and code directories -------------------------------------------------

std::optional<std::string> unsafe_library_directory(const std::string &dir, std::vector<std::string> &)
{
    // A relative directory is the engine's to resolve, against whatever its
    // working directory is then: never allowed.
    if (!is_absolute(dir))
        return "it is not an absolute path";
    if (is_directory(dir) && !entries(dir).empty())
        return "it is not empty: the engine could load what is there, or below";
    if (entry_exists(dir) && !is_directory(dir))
        return "it is not a directory";
    // Nothing may appear there while the restore runs: the directory, or the
    // one it would be made in, and those above it, safe.
    std::string d = dir;
    while (!entry_exists(d) && d != directory_of(d))
        d = directory_of(d);
    struct stat st;
    if (lstat(d.c_str(), &st) != 0)
        return "cannot read " + d;
    if (S_ISLNK(st.st_mode))
        return d + " is a symbolic link, which this tool does not follow";
    Fd fd(open(d.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.fd < 0)
        return "cannot read " + d;
    return unsafe_at(fd.fd, d);
}

std::optional<std::string> unsafe_code_directory(const std::string &dir)
{
    if (!entry_exists(dir))
        return std::nullopt; // its parent's check says whether one could be made
    const auto real = real_directory(dir);
    if (!real)
        return dir + " is not a directory";
    Fd fd(open(real->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.fd < 0)
        return "cannot read " + *real;
    return unsafe_at(fd.fd, *real);
}

// --- the steps ---------------------------------------------------------------------

Child::Child(const std::vector<std::string> &arguments)
{
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0)
        fail("cannot make a pipe for", "a step");
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        fail("cannot find this program", "/proc/self/exe");
    }
    self[n] = '\0';
    std::vector<char *> argv{self};
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        fail("cannot start", self);
    }
    if (pid_ == 0) {
        // No terminal: what the engine would ask of a keyboard (gbak asks for
        // the next volume of a backup that ends early) reads nothing.
        setsid();
        const int nothing = open("/dev/null", O_RDONLY);
        if (nothing < 0 || dup2(nothing, STDIN_FILENO) < 0 || dup2(pipe_ends[1], STDOUT_FILENO) < 0 ||
            dup2(pipe_ends[1], STDERR_FILENO) < 0)
            _exit(127);
        // The signals that stop a run reach the parent, which ends this
        // step itself.
        signal(SIGINT, SIG_IGN);
        signal(SIGHUP, SIG_IGN);
        signal(SIGTERM, SIG_DFL);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        execv(self, argv.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    out_ = pipe_ends[0];
}

Child::~Child()
{
    kill();
    if (out_ >= 0)
        close(out_);
}

std::optional<std::string> Child::line(bool &ended)
{
    ended = false;
    for (;;) {
        const size_t at = buffer_.find('\n');
        if (at != std::string::npos) {
            std::string l = buffer_.substr(0, at);
            buffer_.erase(0, at + 1);
            return l;
        }
        if (eof_) {
            ended = true;
            return std::nullopt;
        }
        pollfd p = {out_, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            return std::nullopt;
        char chunk[4096];
        const ssize_t got = read(out_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            eof_ = true;
        else
            buffer_.append(chunk, size_t(got));
    }
}

int Child::wait()
{
    if (pid_ <= 0)
        return -1;
    int status = 0;
    pid_t got;
    while ((got = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (got < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Child::in_words(int status)
{
    if (status > 128 && status < 128 + 65) {
        const char *name = strsignal(status - 128);
        return "signal " + std::to_string(status - 128) + (name ? std::string(" (") + name + ")" : "");
    }
    return "status " + std::to_string(status);
}

void Child::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

// --- a directory hidden from the engine ---------------------------------------------

namespace {

// Writes text to a file of /proc/self: true when it took.
bool write_proc(const char *name, const std::string &text)
{
    const int fd = open(name, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    return ok;
}

// Another user than root gets mounts of its own in a user namespace of its
// own, in which it is the same user (its files stay its own), where the
// system lets anyone make one.
bool users_may_unshare()
{
    std::ifstream debian("/proc/sys/kernel/unprivileged_userns_clone"), limit("/proc/sys/user/max_user_namespaces");
    int allowed = 1, most = 0;
    debian >> allowed;
    limit >> most;
    return allowed == 1 && most > 0;
}

} // namespace

bool can_hide_directories()
{
    return geteuid() == 0 || users_may_unshare();
}

std::optional<std::string> hide_directory(const std::string &dir)
{
    static bool own_mounts = false;
    if (!own_mounts) {
        // Mounts of this process alone, none of them seen outside.
        const uid_t uid = geteuid();
        const gid_t gid = getegid();
        if (uid != 0) {
            if (unshare(CLONE_NEWUSER) != 0 || !write_proc("/proc/self/setgroups", "deny") ||
                !write_proc("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
                !write_proc("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
                return "cannot make a user namespace of the run's own: " + std::string(std::strerror(errno));
        }
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return "cannot make mounts of this run's own: " + std::string(std::strerror(errno));
        own_mounts = true;
    }
    if (mount("morvanfn-upgrade", dir.c_str(), "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC, "size=4k,mode=0555") != 0)
        return "cannot hide it: " + std::string(std::strerror(errno));
    return std::nullopt;
}

// --- the rest ----------------------------------------------------------------------

namespace {
void on_signal(int)
{
    note_stop();
}
} // namespace

void catch_stop_signals()
{
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
}

bool terminal()
{
    return isatty(STDERR_FILENO);
}

unsigned long process_id()
{
    return static_cast<unsigned long>(getpid());
}

void change_directory(const std::string &dir)
{
    if (chdir(dir.c_str()) != 0)
        fail("cannot work in", dir);
}

std::string temp_directory()
{
    const std::string t = environment("TMPDIR");
    return t.empty() ? "/tmp" : t;
}

std::optional<std::string> default_firebird_root()
{
    return std::nullopt;
}

} // namespace upgrade
