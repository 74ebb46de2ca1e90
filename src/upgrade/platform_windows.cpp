// morvanfn-upgrade on Windows (platform.h): the directories a run works in
// are held open without FILE_SHARE_DELETE, so that no one can rename or
// remove them while it runs; files are opened without following reparse
// points and known by volume and file index.
#include "platform.h"

#include "client.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include <io.h>
#include <windows.h>
#include <sddl.h>

namespace upgrade {

namespace {

[[noreturn]] void fail(const std::string &what, const std::string &path)
{
    throw Failure(what + " " + path + " (Windows error " + std::to_string(GetLastError()) + ")");
}

void copy_file(const std::string &from, const std::string &to)
{
    if (!CopyFileA(from.c_str(), to.c_str(), TRUE))
        fail("cannot copy", from + " to " + to);
}

std::optional<FileId> id_of(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info))
        return std::nullopt;
    return FileId{info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// An entry opened as itself: a reparse point (link, junction) is not followed.
HANDLE open_entry(const std::string &path, DWORD access, DWORD share)
{
    return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

void remove_path(const std::string &path)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return;
    if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (const std::string &n : entries(path))
            remove_path(join(path, n));
        RemoveDirectoryA(path.c_str());
    } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryA(path.c_str()); // a junction: the link alone
    } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

// SYSTEM, the administrators and the owner alone.
const char *const private_sddl = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)";

} // namespace

// --- paths -------------------------------------------------------------------------

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

void make_directory(const std::string &path)
{
    if (!CreateDirectoryA(path.c_str(), nullptr))
        fail("cannot make the directory", path);
}

void link_or_copy(const std::string &from, const std::string &to)
{
    if (!CreateHardLinkA(to.c_str(), from.c_str(), nullptr))
        copy_file(from, to);
}

std::optional<FileId> identity_of(const std::string &path)
{
    HANDLE h = open_entry(path, 0, share_all);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const auto id = id_of(h);
    CloseHandle(h);
    return id;
}

// --- Directory -------------------------------------------------------------------

Directory::Directory(const std::string &path) : path_(path)
{
    // Held without FILE_SHARE_DELETE: no one renames it while this runs.
    HANDLE h = open_entry(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (h == INVALID_HANDLE_VALUE)
        fail("cannot open the directory", path);
    const DWORD a = GetFileAttributesA(path.c_str());
    const auto id = id_of(h);
    if (!id || a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(h);
        throw Failure(path + " is not a directory (a link or junction is not followed)");
    }
    handle_ = h;
    id_ = *id;
}

Directory::Directory(Directory &&other) noexcept : path_(std::move(other.path_)), id_(other.id_), handle_(other.handle_)
{
    other.handle_ = nullptr;
}

Directory::~Directory()
{
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
}

std::optional<Directory::Entry> Directory::entry(const std::string &name) const
{
    const std::string path = join(path_, name);
    const DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    Entry e;
    e.link = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    e.directory = !e.link && (a & FILE_ATTRIBUTE_DIRECTORY);
    e.regular = !e.link && !e.directory;
    e.owned = true; // Windows' owners are not read here: the run's directories are private
    HANDLE h = open_entry(path, 0, share_all);
    if (h != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileInformationByHandle(h, &info)) {
            e.id = FileId{info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
            e.links = info.nNumberOfLinks;
        }
        CloseHandle(h);
    }
    return e;
}

std::vector<std::string> Directory::names() const
{
    return entries(path_);
}

Directory Directory::make_private(const std::string &name) const
{
    const std::string path = join(path_, name);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(private_sddl, SDDL_REVISION_1, &descriptor, nullptr))
        fail("cannot make a private directory", path);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const BOOL made = CreateDirectoryA(path.c_str(), &attributes);
    LocalFree(descriptor);
    if (!made)
        fail("cannot make the directory", path);
    return Directory(path);
}

bool Directory::remove_own(const std::string &name, std::optional<FileId> id) const
{
    const auto e = entry(name);
    if (!e || e->link || (id && e->id != *id))
        return false;
    remove_path(join(path_, name));
    return !entry_exists(join(path_, name));
}

std::optional<std::string> Directory::unsafe() const
{
    return std::nullopt; // Windows' permissions are not read by this tool
}

// --- HeldFile ---------------------------------------------------------------------

HeldFile::HeldFile(const Directory &dir, const std::string &name)
{
    const std::string path = join(dir.path(), name);
    // Read-only, shared for the engine and for a move, never a reparse point.
    HANDLE h = open_entry(path, GENERIC_READ, share_all);
    if (h == INVALID_HANDLE_VALUE)
        fail("cannot open", path);
    const auto e = dir.entry(name);
    const auto id = id_of(h);
    if (!e || !e->regular || !id || e->links != 1) {
        CloseHandle(h);
        throw Failure(path + " is not the file this run made (another file, or more than one name for it)");
    }
    handle_ = h;
    id_ = *id;
}

HeldFile::~HeldFile()
{
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
}

void HeldFile::give_to_owner_of(const Directory &) {}

HeldFile::Published HeldFile::publish(const Directory &from, const std::string &from_name, const Directory &dir,
                                      const std::string &name)
{
    const auto e = from.entry(from_name);
    if (!e || e->id != id_)
        return Published::impossible;
    // No MOVEFILE_REPLACE_EXISTING: fails where anything is at name.
    const std::string target = join(dir.path(), name);
    if (MoveFileExA(join(from.path(), from_name).c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
        return Published::done;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || entry_exists(target))
        return Published::occupied;
    return Published::impossible;
}

bool engine_holds(const FileId &)
{
    return true;
}

// --- the lock --------------------------------------------------------------------

TargetLock::TargetLock(const Directory &dir, const std::string &name) : dir_(dir), name_(name)
{
    // Open by this run alone, and gone with it, however it ends.
    HANDLE h = CreateFileA(path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_ACCESS_DENIED)
            return;
        fail("cannot make the lock file", path());
    }
    handle_ = h;
    held = true;
}

TargetLock::~TargetLock()
{
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
}

std::string TargetLock::path() const
{
    return join(dir_.path(), name_);
}

bool lock_held(const Directory &dir, const std::string &name)
{
    HANDLE h = CreateFileA(join(dir.path(), name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND;
}

// --- library and code directories -------------------------------------------------

std::optional<std::string> unsafe_library_directory(const std::string &dir, std::vector<std::string> &made)
{
    // A relative directory, or one without its drive (a Linux server's path
    // in the backup), is the engine's to resolve against whatever is current
    // then: never allowed, and nothing is made for it.
    const bool drive = dir.size() > 2 && dir[1] == ':' && (dir[2] == '\\' || dir[2] == '/');
    if (!drive && dir.rfind("\\\\", 0) != 0)
        return std::string(is_absolute(dir) ? "it names no drive" : "it is not an absolute path");
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

bool can_hide_directories()
{
    return false;
}

std::optional<std::string> hide_directory(const std::string &)
{
    return std::string("Windows cannot hide it from the engine for the run");
}

std::optional<std::string> unsafe_code_directory(const std::string &)
{
    return std::nullopt; // Windows' permissions are not read by this tool
}

// --- the steps ---------------------------------------------------------------------

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
    if (nothing == INVALID_HANDLE_VALUE) {
        CloseHandle(read_end);
        CloseHandle(write_end);
        fail("cannot open", "NUL");
    }
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
                        &startup, &info)) {
        const DWORD error = GetLastError();
        CloseHandle(read_end);
        CloseHandle(write_end);
        CloseHandle(nothing);
        SetLastError(error);
        fail("cannot start", self_path());
    }
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
    DWORD code = 1;
    if (WaitForSingleObject(static_cast<HANDLE>(process_), INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(static_cast<HANDLE>(process_), &code))
        return -1;
    return int(code);
}

std::string Child::in_words(int status)
{
    const DWORD code = static_cast<DWORD>(status);
    if (code <= 255)
        return "status " + std::to_string(code);
    static const struct {
        DWORD code;
        const char *words;
    } known[] = {{0xC0000005, "an access violation"}, {0xC00000FD, "a stack overflow"},
                 {0xC0000409, "a stack buffer overrun"}, {0xC0000374, "a corrupted heap"},
                 {0xC0000135, "a DLL that was not found"}, {0xC0000139, "an entry point not found in a DLL"},
                 {0xC000013A, "Ctrl-C"}, {0xC0000142, "a DLL that failed to start"},
                 {0x80000003, "a breakpoint"}, {0xC0000017, "no memory left"}};
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    for (const auto &k : known)
        if (k.code == code)
            return std::string("Windows status ") + hex + " (" + k.words + ")";
    return std::string("Windows status ") + hex;
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
    note_stop();
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
    // The server this library's installer put its modules into (the tool is
    // installed with them), else Firebird's own default instance; each in
    // the registry view of the tool's bits, as the installers write them.
    const char *const places[][2] = {{"SOFTWARE\\morvanfn", "FirebirdRoot"},
                                     {"SOFTWARE\\Firebird Project\\Firebird Server\\Instances", "DefaultInstance"}};
    for (const auto &place : places) {
        char value[MAX_PATH];
        DWORD size = sizeof value;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, place[0], place[1], RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
            continue;
        std::string root = value;
        while (!root.empty() && (root.back() == '\\' || root.back() == '/'))
            root.pop_back();
        if (!root.empty())
            return root;
    }
    return std::nullopt;
}

unsigned long process_id()
{
    return GetCurrentProcessId();
}

void change_directory(const std::string &dir)
{
    if (!SetCurrentDirectoryA(dir.c_str()))
        fail("cannot work in", dir);
}

std::string temp_directory()
{
    char path[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof path, path);
    if (n == 0 || n > sizeof path)
        fail("cannot find the temporary directory", "(GetTempPath)");
    std::string t(path, n);
    while (t.size() > 3 && (t.back() == '\\' || t.back() == '/'))
        t.pop_back();
    return t;
}

} // namespace upgrade
