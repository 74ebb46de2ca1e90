// morvanfn-upgrade: Linux and Windows (platform.h).
#include "platform.h"

#include "client.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#include <sddl.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace upgrade {

namespace {

std::atomic<bool> stop{false};

[[noreturn]] void fail(const std::string &what, const std::string &path)
{
#ifdef _WIN32
    throw Failure(what + " " + path + " (Windows error " + std::to_string(GetLastError()) + ")");
#else
    throw Failure(what + " " + path + ": " + std::strerror(errno));
#endif
}

void copy_file(const std::string &from, const std::string &to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    if (!in || !out || !(out << in.rdbuf()))
        fail("cannot copy", from + " to " + to);
}

} // namespace

bool is_absolute(const std::string &path)
{
#ifdef _WIN32
    return (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           (path.size() > 1 && (path[0] == '\\' || path[0] == '/'));
#else
    return !path.empty() && path[0] == '/';
#endif
}

std::string join(const std::string &dir, const std::string &name)
{
    if (dir.empty())
        return name;
    const char last = dir.back();
    return dir + (last == '/' || last == separator ? "" : std::string(1, separator)) + name;
}

// Where the last separator of path is (Windows takes / as well as \).
static size_t last_separator(const std::string &path)
{
#ifdef _WIN32
    return path.find_last_of("\\/");
#else
    return path.find_last_of('/');
#endif
}

std::string directory_of(const std::string &path)
{
    const size_t at = last_separator(path);
    if (at == std::string::npos)
        return ".";
    if (at == 0)
        return path.substr(0, 1);
#ifdef _WIN32
    if (at == 2 && path[1] == ':')
        return path.substr(0, 3);
#endif
    return path.substr(0, at);
}

std::string name_of(const std::string &path)
{
    const size_t at = last_separator(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

unsigned long process_id()
{
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

std::string unique_suffix()
{
    std::random_device device;
    std::mt19937_64 random(device() ^ uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::ostringstream s;
    s << process_id() << '-' << std::hex << (random() & 0xffffffffffULL);
    return s.str();
}

void change_directory(const std::string &dir)
{
#ifdef _WIN32
    if (!SetCurrentDirectoryA(dir.c_str()))
#else
    if (chdir(dir.c_str()) != 0)
#endif
        fail("cannot work in", dir);
}

std::string temp_directory()
{
#ifdef _WIN32
    char path[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof path, path);
    std::string t(path, n);
    while (t.size() > 3 && (t.back() == '\\' || t.back() == '/'))
        t.pop_back();
    return t.empty() ? "." : t;
#else
    const std::string t = environment("TMPDIR");
    return t.empty() ? "/tmp" : t;
#endif
}

void set_environment(const std::string &name, const std::string &value)
{
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

std::string environment(const std::string &name)
{
    const char *v = std::getenv(name.c_str());
    return v ? v : "";
}

void make_directory(const std::string &path)
{
#ifdef _WIN32
    if (!CreateDirectoryA(path.c_str(), nullptr))
        fail("cannot make the directory", path);
#else
    if (mkdir(path.c_str(), 0700) != 0)
        fail("cannot make the directory", path);
#endif
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << text))
        fail("cannot write", path);
}

bool same_contents(const std::string &a, const std::string &b)
{
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    if (!x || !y)
        return false;
    std::istreambuf_iterator<char> i(x), j(y), end;
    for (; i != end && j != end; ++i, ++j)
        if (*i != *j)
            return false;
    return i == end && j == end;
}

#ifdef _WIN32

std::optional<std::string> real_directory(const std::string &dir)
{
    char full[MAX_PATH * 2];
    const DWORD n = GetFullPathNameA(dir.c_str(), sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full || !is_directory(full))
        return std::nullopt;
    std::string d = full;
    while (d.size() > 3 && (d.back() == '\\' || d.back() == '/'))
        d.pop_back();
    return d;
}

bool entry_exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_directory(const std::string &path)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_file(const std::string &path)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(join(dir, "*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string n = found.cFileName;
        if (n != "." && n != "..")
            names.push_back(n);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

void remove_tree(const std::string &path)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return;
    if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (const std::string &n : entries(path))
            remove_tree(join(path, n));
        RemoveDirectoryA(path.c_str());
    } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryA(path.c_str()); // a junction: the link alone
    } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

namespace {
// A hard link to the file from where the file system allows one, else a copy.
void link_or_copy(const std::string &from, const std::string &to)
{
    if (!CreateHardLinkA(to.c_str(), from.c_str(), nullptr))
        copy_file(from, to);
}
} // namespace

bool publish(const std::string &scratch, const std::string &target)
{
    // No MOVEFILE_REPLACE_EXISTING: fails where anything is at target.
    if (MoveFileExA(scratch.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS || entry_exists(target))
        return false;
    fail("cannot move the finished database to", target);
}

void own_like_directory(const std::string &, const std::string &) {}

TargetLock::TargetLock(const std::string &path) : path_(path)
{
    // Open by this run alone, and gone with it, however it ends.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_ACCESS_DENIED)
            return;
        fail("cannot make the lock file", path);
    }
    handle_ = h;
    held = true;
}

TargetLock::~TargetLock()
{
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
}

bool lock_held(const std::string &path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_ACCESS_DENIED;
}

std::optional<std::string> unsafe_library_directory(const std::string &dir, std::vector<std::string> &made)
{
    if (is_directory(dir)) {
        if (!entries(dir).empty())
            return "it is not empty: the engine could load what is there, or below";
        // An empty directory below the Program Files directories, which only
        // administrators may write to.
        auto lower = [](std::string s) {
            for (char &c : s)
                c = char(tolower(static_cast<unsigned char>(c)));
            return s;
        };
        for (const char *var : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
            const std::string base = environment(var);
            if (!base.empty() && lower(dir).rfind(lower(base) + "\\", 0) == 0)
                return std::nullopt;
        }
        return "it exists outside the Program Files directories, and this tool cannot tell who may write to it";
    }
    if (entry_exists(dir))
        return "it is not a directory";
    // Made now, and each directory above it that is missing, for the
    // administrators, SYSTEM and its owner alone.
    std::vector<std::string> missing;
    for (std::string d = dir; !entry_exists(d); d = directory_of(d)) {
        if (d == directory_of(d))
            return "no drive holds it";
        missing.push_back(d);
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)",
                                                              SDDL_REVISION_1, &descriptor, nullptr))
        return "cannot make a private directory there (Windows error " + std::to_string(GetLastError()) + ")";
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    std::optional<std::string> why;
    for (auto d = missing.rbegin(); d != missing.rend() && !why; ++d) {
        if (CreateDirectoryA(d->c_str(), &attributes))
            made.push_back(*d);
        else
            why = "cannot make " + *d + " (Windows error " + std::to_string(GetLastError()) + ")";
    }
    LocalFree(descriptor);
    return why;
}


namespace {
std::string self_path()
{
    char path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n);
}

// One argument as CommandLineToArgvW and the C runtime read it back.
std::string command_line_argument(const std::string &a)
{
    if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos)
        return a;
    std::string q = "\"";
    size_t backslashes = 0;
    for (char c : a) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, '\\');
    return q + "\"";
}
} // namespace

Child::Child(const std::vector<std::string> &arguments)
{
    std::string command = command_line_argument(self_path());
    for (const std::string &a : arguments)
        command += " " + command_line_argument(a);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read_end, write_end;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0))
        fail("cannot make a pipe for", "a step");
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    // No console: what the engine would ask of a keyboard (gbak asks for the
    // next volume of a backup that ends early) reads nothing.
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED | DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &info))
        fail("cannot start", self_path());
    // A parent killed outright takes this with it: the job ends its
    // processes when its last handle, the parent's, closes.
    if (HANDLE job = CreateJobObjectA(nullptr, nullptr)) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        AssignProcessToJobObject(job, info.hProcess);
        job_ = job;
    }
    ResumeThread(info.hThread);
    CloseHandle(write_end);
    CloseHandle(nothing);
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    out_ = read_end;
}

Child::~Child()
{
    kill();
    if (out_)
        CloseHandle(static_cast<HANDLE>(out_));
    if (process_)
        CloseHandle(static_cast<HANDLE>(process_));
    if (job_)
        CloseHandle(static_cast<HANDLE>(job_));
}

std::optional<std::string> Child::line(bool &ended)
{
    ended = false;
    for (int waited = 0;; waited += 20) {
        const size_t at = buffer_.find('\n');
        if (at != std::string::npos) {
            std::string l = buffer_.substr(0, at);
            buffer_.erase(0, at + 1);
            if (!l.empty() && l.back() == '\r')
                l.pop_back();
            return l;
        }
        if (eof_) {
            ended = true;
            return std::nullopt;
        }
        DWORD available = 0;
        if (!PeekNamedPipe(static_cast<HANDLE>(out_), nullptr, 0, nullptr, &available, nullptr)) {
            eof_ = true;
            continue;
        }
        if (available == 0) {
            if (waited >= 200)
                return std::nullopt;
            Sleep(20);
            continue;
        }
        char chunk[4096];
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(out_), chunk, std::min<DWORD>(available, sizeof chunk), &got, nullptr) || got == 0)
            eof_ = true;
        buffer_.append(chunk, got);
    }
}

int Child::wait()
{
    WaitForSingleObject(static_cast<HANDLE>(process_), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(static_cast<HANDLE>(process_), &code);
    return int(code);
}

void Child::kill()
{
    if (process_ && WaitForSingleObject(static_cast<HANDLE>(process_), 0) == WAIT_TIMEOUT) {
        TerminateProcess(static_cast<HANDLE>(process_), 1);
        WaitForSingleObject(static_cast<HANDLE>(process_), INFINITE);
    }
}

namespace {
BOOL WINAPI on_control(DWORD)
{
    stop = true;
    return TRUE;
}
} // namespace

void catch_stop_signals()
{
    SetConsoleCtrlHandler(on_control, TRUE);
}

bool terminal()
{
    return _isatty(_fileno(stderr));
}

std::optional<std::string> default_firebird_root()
{
    char value[MAX_PATH];
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Firebird Project\\Firebird Server\\Instances", "DefaultInstance",
                     RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::string root = value;
    while (!root.empty() && (root.back() == '\\' || root.back() == '/'))
        root.pop_back();
    return root;
}

#else

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
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

void remove_tree(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        for (const std::string &n : entries(path))
            remove_tree(join(path, n));
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

namespace {
// A hard link to the file from where the file system allows one, else a
// copy.  Links are followed: Debian links the messages and intl's
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
} // namespace

bool publish(const std::string &scratch, const std::string &target)
{
    // link() fails with EEXIST where anything is at target, a dangling link
    // included: nothing there is ever replaced.
    if (link(scratch.c_str(), target.c_str()) != 0) {
        if (errno == EEXIST)
            return false;
        fail("cannot link the finished database to", target);
    }
    unlink(scratch.c_str());
    return true;
}

void own_like_directory(const std::string &file, const std::string &dir)
{
    struct stat st;
    if (geteuid() == 0 && stat(dir.c_str(), &st) == 0 && chown(file.c_str(), st.st_uid, st.st_gid) != 0)
        fail("cannot give the database to the owner of", dir);
}

TargetLock::TargetLock(const std::string &path) : path_(path)
{
    // Taken on the file that is at path once held: a run that ends removes
    // it, and one that opened the removed file meanwhile tries again.
    for (;;) {
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0)
            fail("cannot make the lock file", path);
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        struct stat held_file, now;
        if (fstat(fd_, &held_file) == 0 && lstat(path.c_str(), &now) == 0 && held_file.st_ino == now.st_ino &&
            held_file.st_dev == now.st_dev)
            break;
        close(fd_);
    }
    held = true;
}

TargetLock::~TargetLock()
{
    if (fd_ >= 0) {
        if (held)
            unlink(path_.c_str());
        close(fd_);
    }
}

bool lock_held(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return held;
}

// A group that only OWNER is in: no one else can write through it.  This is
// the user-private group Debian gives each user, whose directories are
// group-writable under umask 002 (Debian 13's default); a group of no one is
// not counted as one (setgid programs use those).
static bool owners_own_group(gid_t gid, uid_t owner)
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

std::optional<std::string> unsafe_library_directory(const std::string &dir, std::vector<std::string> &made)
{
    (void)made;
    if (is_directory(dir) && !entries(dir).empty())
        return "it is not empty: the engine could load what is there, or below";
    if (entry_exists(dir) && !is_directory(dir))
        return "it is not a directory";
    // Nothing may appear there while the restore runs.  The directory, or
    // the one it would be made in, writable by root or this user alone (or
    // by a group of theirs alone); above it, each directory too, or sticky
    // (as /tmp) with the entry on this path root's or this user's, which no
    // one else may then replace.
    std::string d = dir;
    while (!entry_exists(d) && d != "/")
        d = directory_of(d);
    auto owned = [](const struct stat &st) { return st.st_uid == 0 || st.st_uid == geteuid(); };
    struct stat below = {};
    for (bool first = true;; first = false, d = directory_of(d)) {
        struct stat st;
        if (lstat(d.c_str(), &st) != 0)
            return "cannot read " + d;
        if (S_ISLNK(st.st_mode))
            return d + " is a symbolic link, which this tool does not follow";
        if (!owned(st))
            return d + " belongs to another user, who could put a library there";
        const bool others_write =
            (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && !owners_own_group(st.st_gid, st.st_uid));
        if (others_write && (first || !(st.st_mode & S_ISVTX) || !owned(below)))
            return d + " is writable by others, who could put a library there";
        if (d == "/")
            return std::nullopt;
        below = st;
    }
}

Child::Child(const std::vector<std::string> &arguments)
{
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        fail("cannot make a pipe for", "a step");
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        fail("cannot find this program", "/proc/self/exe");
    self[n] = '\0';
    std::vector<char *> argv{self};
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0)
        fail("cannot start", self);
    if (pid_ == 0) {
        // No terminal: what the engine would ask of a keyboard (gbak asks for
        // the next volume of a backup that ends early) reads nothing.
        setsid();
        const int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, STDIN_FILENO);
        dup2(pipe_ends[1], STDOUT_FILENO);
        dup2(pipe_ends[1], STDERR_FILENO);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        // The signals that stop a run reach the parent, which ends this
        // step itself.
        signal(SIGINT, SIG_IGN);
        signal(SIGHUP, SIG_IGN);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        execv(self, argv.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    out_ = pipe_ends[0];
    fcntl(out_, F_SETFD, FD_CLOEXEC);
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
        if (got <= 0)
            eof_ = true;
        else
            buffer_.append(chunk, size_t(got));
    }
}

int Child::wait()
{
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Child::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

namespace {
void on_signal(int)
{
    stop = true;
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

std::optional<std::string> default_firebird_root()
{
    return std::nullopt;
}

#endif

void mirror(const std::string &from, const std::string &to)
{
    if (!is_directory(from))
        return link_or_copy(from, to);
    make_directory(to);
    for (const std::string &n : entries(from))
        mirror(join(from, n), join(to, n));
}

bool stop_requested()
{
    return stop;
}

} // namespace upgrade
