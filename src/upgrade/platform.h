// morvanfn-upgrade: what differs between Linux and Windows, in one place:
// files (never replaced, never followed through links when removed), the
// lock on a target, stop signals, the terminal.
#ifndef MORVANFN_UPGRADE_PLATFORM_H
#define MORVANFN_UPGRADE_PLATFORM_H

#include <optional>
#include <string>
#include <vector>

namespace upgrade {

#ifdef _WIN32
const char separator = '\\';
#else
const char separator = '/';
#endif

std::string join(const std::string &dir, const std::string &name);
std::string directory_of(const std::string &path);
std::string name_of(const std::string &path);
// The absolute form of an existing directory, links resolved.
std::optional<std::string> real_directory(const std::string &dir);
bool is_absolute(const std::string &path);
// Any directory entry at path, a dangling link too.
bool entry_exists(const std::string &path);
bool is_directory(const std::string &path);
bool is_file(const std::string &path);
std::vector<std::string> entries(const std::string &dir);
// Removes path and what is below it; a link is removed, never followed.
void remove_tree(const std::string &path);
// Makes to a copy of from, a file or a directory and all below it, with hard
// links where the file system allows them.
void mirror(const std::string &from, const std::string &to);
void make_directory(const std::string &path);
void write_file(const std::string &path, const std::string &text);
bool same_contents(const std::string &a, const std::string &b);

// Moves scratch to target unless something is there already, which it never
// replaces: false then, and scratch stays.
bool publish(const std::string &scratch, const std::string &target);
// On Linux as root: the file owned as its directory is (the server's user).
void own_like_directory(const std::string &file, const std::string &dir);

// The lock one run holds on a target for its whole life.
class TargetLock {
public:
    // False in held when another run holds it.
    explicit TargetLock(const std::string &path);
    TargetLock(const TargetLock &) = delete;
    TargetLock &operator=(const TargetLock &) = delete;
    ~TargetLock();
    bool held = false;

private:
    std::string path_;
#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// Whether a run holds the lock at path (only looked at, never made).
bool lock_held(const std::string &path);

// Why the engine may not be allowed to look in a library directory, or
// nullopt when nothing can be loaded from there for as long as the run
// lasts: the directory is absent or empty, and no one but root, the
// administrators or this user can put anything there.  Allowing it allows
// what lies below it too, hence empty.  On Windows, whose permissions this
// tool does not read, an absent directory is made for the run, open to
// SYSTEM, the administrators and its owner alone, and added to made (to be
// removed, last first, when the run ends).
std::optional<std::string> unsafe_library_directory(const std::string &dir, std::vector<std::string> &made);

// This program, run again with arguments for one step, its standard output
// and errors read line by line; its standard input is nothing, and it has no
// terminal.
class Child {
public:
    explicit Child(const std::vector<std::string> &arguments);
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child();
    // The next whole line, waiting a fifth of a second at most: nullopt when
    // none came (ended says whether the child has finished).
    std::optional<std::string> line(bool &ended);
    // Its exit status, once ended.
    int wait();
    void kill();

private:
    std::string buffer_;
    bool eof_ = false;
#ifdef _WIN32
    void *process_ = nullptr;
    void *out_ = nullptr;
    void *job_ = nullptr;
#else
    int pid_ = -1;
    int out_ = -1;
#endif
};

// Ctrl-C, SIGINT, SIGTERM (and SIGHUP): noted, for the run to stop itself.
void catch_stop_signals();
bool stop_requested();
bool terminal();
unsigned long process_id();
std::string unique_suffix();
void change_directory(const std::string &dir);
// Where a run keeps its private engine root.
std::string temp_directory();
void set_environment(const std::string &name, const std::string &value);
std::string environment(const std::string &name);
// Where the tool's own Firebird is when none is named: Windows' registry.
std::optional<std::string> default_firebird_root();

} // namespace upgrade

#endif
