// morvanfn-upgrade: what differs between Linux and Windows, under one
// header: files touched through handles (a directory held open, entries
// made and removed relative to it, never a link followed that this run did
// not make), the lock on a target, the steps as child processes, stop
// signals, the terminal.  platform.cpp has what is the same on both;
// platform_posix.cpp and platform_windows.cpp the rest.
//
// The tool runs as root (Administrator): anything a path names may be
// changed by whoever may write the directory it is in, between one call
// and the next.  So a file is named once, then known by its handle and its
// identity (device and inode, volume and file index).
#ifndef MORVANFN_UPGRADE_PLATFORM_H
#define MORVANFN_UPGRADE_PLATFORM_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace upgrade {

#ifdef _WIN32
const char separator = '\\';
#else
const char separator = '/';
#endif

// --- paths (platform.cpp) -------------------------------------------------------

std::string join(const std::string &dir, const std::string &name);
std::string directory_of(const std::string &path);
std::string name_of(const std::string &path);
bool is_absolute(const std::string &path);
// The absolute form of an existing directory, links resolved.
std::optional<std::string> real_directory(const std::string &dir);
// Any directory entry at path, a dangling link too.
bool entry_exists(const std::string &path);
bool is_directory(const std::string &path);
bool is_file(const std::string &path);
std::vector<std::string> entries(const std::string &dir);
// Makes to a copy of from, a file or a directory and all below it, with hard
// links where the file system allows them.  Only into the run's own root.
void mirror(const std::string &from, const std::string &to);
void make_directory(const std::string &path);
void write_file(const std::string &path, const std::string &text);

// --- files by handle ---------------------------------------------------------------

// Which file an entry is, whatever its name is now.
struct FileId {
    uint64_t device = 0, inode = 0;
    bool operator==(const FileId &o) const { return device == o.device && inode == o.inode; }
    bool operator!=(const FileId &o) const { return !(*this == o); }
};

// A directory held open for a run's life.  Opened once by its path (which
// must name a directory, not a link to one); every entry below is then made,
// read and removed relative to the handle.
class Directory {
public:
    explicit Directory(const std::string &path);
    Directory(Directory &&other) noexcept;
    Directory(const Directory &) = delete;
    Directory &operator=(const Directory &) = delete;
    ~Directory();
    const std::string &path() const { return path_; }
    FileId id() const { return id_; }
    // What name is in it, no link followed: nullopt when nothing is.
    struct Entry {
        FileId id;
        bool regular = false, directory = false, link = false, owned = false; // owned: by this user
        unsigned links = 0;
    };
    std::optional<Entry> entry(const std::string &name) const;
    std::vector<std::string> names() const;
    // A new directory in it, open to this user alone, held: fails if
    // anything is at name.
    Directory make_private(const std::string &name) const;
    // Removes name and what is below it, through handles, if it is this
    // user's own file or directory and its identity is id (any identity
    // when id is nullopt); a link, or anyone else's entry, stays.  True when
    // removed.
    bool remove_own(const std::string &name, std::optional<FileId> id = std::nullopt) const;
    // Why someone but root (the administrators) or this user could replace
    // an entry this user makes in it (it may be sticky, as /tmp), or in a
    // directory above; nullopt when no one could.
    std::optional<std::string> unsafe() const;

#ifdef _WIN32
    void *handle() const { return handle_; }
#else
    int fd() const { return fd_; }
#endif

private:
    Directory() = default;
    std::string path_;
    FileId id_;
#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// A file of the run's work directory held open: the finished database.
class HeldFile {
public:
    // The regular file name in dir, this user's, one link: else Failure.
    HeldFile(const Directory &dir, const std::string &name);
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;
    ~HeldFile();
    FileId id() const { return id_; }
    // On Linux as root: the file given to the owner of dir (the server's user).
    void give_to_owner_of(const Directory &dir);

    enum class Published { done, occupied, impossible };
    // Gives the file the name name in dir unless anything is there (never
    // replaced): a hard link to this very file, else a move from from (its
    // directory) that replaces nothing.  impossible: the file system allows
    // neither; the file stays where it is.
    Published publish(const Directory &from, const std::string &from_name, const Directory &dir, const std::string &name);

private:
    FileId id_;
#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// Whether this process (the engine in it) has the file id open: the proof
// that an attachment opened the file meant, and not whatever was put at its
// name.  Windows holds the work directory against renames instead: true.
bool engine_holds(const FileId &id);

// The identity of the entry at path, no link followed at its last part.
std::optional<FileId> identity_of(const std::string &path);

// The lock one run holds on a target for its whole life, a file in dir.
class TargetLock {
public:
    // False in held when another run holds it.
    TargetLock(const Directory &dir, const std::string &name);
    TargetLock(const TargetLock &) = delete;
    TargetLock &operator=(const TargetLock &) = delete;
    ~TargetLock();
    bool held = false;
    std::string path() const;

private:
    const Directory &dir_;
    std::string name_;
    FileId id_;
#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// Whether a run holds the lock name in dir (looked at, never made).  A lock
// that cannot be looked at counts as held: what it guards is left alone.
bool lock_held(const Directory &dir, const std::string &name);

// Why the engine may not be allowed to look in a library directory, or
// nullopt when nothing can be loaded from there for as long as the run
// lasts: the directory is absent or empty, and no one but root, the
// administrators or this user can put anything there.  Allowing it allows
// what lies below it too, hence empty.  On Windows, whose permissions this
// tool does not read, an absent directory is made for the run, open to
// SYSTEM, the administrators and its owner alone, and added to made (to be
// removed, last first, when the run ends).
std::optional<std::string> unsafe_library_directory(const std::string &dir, std::vector<std::string> &made);
// Why a directory from which the engine's own code is loaded (a Firebird
// root, its lib/ and plugins/) could hold something planted; nullopt when
// only root, the administrators or this user may write to it and above.
std::optional<std::string> unsafe_code_directory(const std::string &dir);

// --- the steps -----------------------------------------------------------------------

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
    // Its exit status, once ended: 128 + N for a signal N; -1 when it could
    // not be known.
    int wait();
    // How a child that ended with status ended, in words: a signal, or a
    // Windows status (0xC0000005, an access violation).
    static std::string in_words(int status);
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

// Ctrl-C, console close, SIGINT, SIGTERM, SIGHUP: noted, for the run to stop
// itself.
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
// From now on this process sees dir as an empty directory that nothing can
// be put in (a private mount of its own: Linux, as root or in a user
// namespace of its own where the system allows one); everyone else
// sees it as it is.  Why it cannot, or nullopt when done.
std::optional<std::string> hide_directory(const std::string &dir);
bool can_hide_directories();
// Ends this process now, its output flushed, no exit handler run: the
// engine's threads may still be running code that one would unload.
[[noreturn]] void end_process(int status);

// Between platform.cpp and each system's file: a hard link where the file
// system allows one, else a copy; the stop noted by a signal handler.
void link_or_copy(const std::string &from, const std::string &to);
void note_stop();

} // namespace upgrade

#endif
