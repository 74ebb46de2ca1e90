// morvanfn-upgrade: what its phases share.  Each phase has a file of its
// own, in the order a run meets them:
//
//   command_line.cpp  the options, and which command runs (the table of contents)
//   layout.cpp        which Firebird: its root, client, engine and this UDR module
//   run_root.cpp      the run's private engine root and configuration
//   target.cpp        the target's directory, lock, leftovers, work directory, publish
//   steps.cpp         the steps, each a child process, and the lines they speak
//   backup.cpp        the backup read through the service manager (meta, restore)
//   catalogue.cpp     the switch, the index builds, the check, from the catalogue
//   restore.cpp       restore: the phases in order
//   in_place.cpp      check and switch on a database as it is
//   render.cpp        names as a terminal may show them
//
// platform.h says what differs between Linux and Windows (platform_posix.cpp,
// platform_windows.cpp).
#ifndef MORVANFN_UPGRADE_TOOL_H
#define MORVANFN_UPGRADE_TOOL_H

#include "client.h"
#include "platform.h"
#include "upgrade.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace upgrade {

extern const char *const program;
const int exit_done = 0, exit_failed = 1, exit_attention = 2, exit_denied = 3;

// Stopped by a signal, Ctrl-C or the console closing.
struct Stopped {};

// Text as a terminal may show it: controls, DEL, C1 controls, bidi
// overrides and bytes that are not UTF-8 become visible escapes (\x1b,
// \u202e); everything else, any script, stays as it is (render.cpp).
std::string visible(const std::string &text);

// A line for the DBA on standard output, "morvanfn-upgrade: TEXT", visible().
void say(const std::string &text);
// The same on standard error.
void complain(const std::string &text);

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    std::string firebird, owner, udr;
    // A step's: directories the engine sees empty (--unseen DIR).
    std::vector<std::string> unseen;
};

// --- layout.cpp ---------------------------------------------------------------

// Firebird 6 and later (Engine14 on): it crashes evaluating a UDF, and its
// service manager hands a user's name on as it came.
bool firebird6_or_later(const std::string &provider);

struct Layout {
    std::string root;     // the Firebird the DBA named
    std::string client;   // its client library
    std::string provider; // Engine12 (3.0), Engine13 (4.0, 5.0) or Engine14 (6.0)
    std::string udr;      // this library's UDR module
};
Layout find_layout(const Options &options);
// A database named by a server (inet://, xnet://, host:path), not a file.
bool remote(const std::string &database);

// --- run_root.cpp ---------------------------------------------------------------

// The run's private engine root: its configuration confines the engine to
// the databases named in databases, loads no UDF from anywhere something
// could be put, opens no external file and no other server.
struct RunRoot {
    std::string path;
    std::vector<std::string> udf_directories;
    // Directories a backup names this library in, which hold files: each
    // step's engine sees them empty.
    std::vector<std::string> unseen;
    std::string databases; // DatabaseAccess: the one directory the engine may open
    std::optional<TargetLock> lock;
    std::optional<Directory> temp;
    std::optional<FileId> id;
    void configure(const Layout &layout) const;
    RunRoot() = default;
    RunRoot(const RunRoot &) = delete;
    RunRoot &operator=(const RunRoot &) = delete;
    ~RunRoot();
};
void make_run_root(RunRoot &run, const Layout &layout, const std::string &databases);
void use_run_root(const std::string &run);
// A directory as firebird.conf can hold it.
bool configurable(const std::string &path);

// --- target.cpp -----------------------------------------------------------------

// A target database: its directory held open, the lock on its name, the
// files earlier runs left, and the run's work directory beside it.
struct Target {
    Target() = default;
    Target(const Target &) = delete;
    Target &operator=(const Target &) = delete;
    std::string name, path;
    std::optional<Directory> dir;
    std::optional<TargetLock> lock;
    // What a run names beside the target starts so: the target's name with
    // every character Firebird's configuration cannot carry written _XX
    // (and _ as _5f), so that the run's directory may be named there.
    std::string prefix() const;
};
// Opens DATABASE's directory and takes the lock on its name; a run that
// holds it already is named.  Leftovers of runs that were stopped go.
void open_target(Target &target, const std::string &database);
// Whether name is one a run on target makes: PREFIX + pid-hex, then
// nothing, .fdb, .meta.fdb or .d.
bool run_made(const Target &target, const std::string &name);

// --- steps.cpp --------------------------------------------------------------------

// Lines from a step to the parent: \x01 TAG \t FIELD ..., each field with
// \\ \t \n \r escaped, so that a name of any content stays one field.
std::string escaped(const std::string &s);
std::vector<std::string> fields(const std::string &line);
void emit(std::initializer_list<std::string> parts);
void step_says(const std::string &text);
std::string or_null(const Value &v);
std::string thousands(unsigned long long n);

// Shows a restore's progress: a bar on a terminal, a line every few seconds
// otherwise.
class Progress {
public:
    explicit Progress(unsigned tables) : tables_(tables) {}
    void update(unsigned table, unsigned long long rows, const std::string &name);
    void done();

private:
    bool terminal_ = terminal();
    unsigned tables_, table_ = 0;
    unsigned long long rows_ = 0;
    std::string name_;
    std::chrono::steady_clock::time_point shown_ = std::chrono::steady_clock::now();
};

struct StepResult {
    int status = exit_failed;
    std::multimap<std::string, std::vector<std::string>> values;
    std::string denied;
    std::string first(const std::string &key) const;
    std::vector<std::vector<std::string>> all(const std::string &key) const;
};
StepResult run_child(const std::vector<std::string> &arguments, Progress *progress);
std::vector<std::string> step_arguments(const Layout &layout, std::vector<std::string> step,
                                        const std::vector<std::string> &unseen = {});
int run_step(const std::vector<std::string> &a, const Options &options, const Hooks &hooks);

// The client library of the layout's Firebird, loaded, for a step or for
// check and switch.
struct Step {
    Client client;
    std::string provider;
    Step(const Layout &layout, const std::string &run, const Hooks &hooks);
    // The service manager, as the user named exactly so.
    Service services(const std::string &exact_user);
};

// The file the engine must open, as "DEV:INO" on a step's command line.
std::string id_text(const FileId &id);
FileId id_from(const std::string &text);
// Attaches to the file at path, which must be the one whose identity is id,
// and checks that the file the engine opened is that one: a link or
// another file put at its name meanwhile is refused before anything runs.
Attachment attach_checked(Client &client, const std::string &path, const FileId &id, const std::string &user,
                          unsigned dialect, bool read_only = false);

// --- backup.cpp -------------------------------------------------------------------

int step_meta(Step &step, const std::vector<std::string> &a);
// Whether gbak's verbose output says it could not build the index name
// (3.0 and 4.0 mark such an index as they mark one the old database had
// inactive): its reasons, in the engine's words, or nullopt.
std::optional<std::string> gbak_failed(const std::string &output, const std::string &name);
int step_restore(Step &step, const std::vector<std::string> &a);

// --- catalogue.cpp ----------------------------------------------------------------

using Out = std::function<void(const std::string &)>;
// The built-in function that replaces a UDF entry point of ib_udf or fbudf
// (as Firebird 3 and later have it), or "".
std::string builtin_for(const std::string &entry_point);
// The UDFs on other libraries, with what uses them and the built-in that
// replaces each; true when there is one.
// engine_version: the engine's own string (what 6.0 reaches, below).
bool report_other_udfs(Attachment &db, const Out &out, const std::string &engine_version);
// The engine's major version from its own string (LI-V5.0.4.1812 ...: 5).
int engine_major(const std::string &engine_version);
// A UDF's SQL name that Firebird 6 (from its engine version string) reads as
// a built-in's when called unqualified: what that means, or nullopt.
std::optional<std::string> shadowed_on_6(const std::string &engine_version, const std::string &name);
// How many functions are still UDFs on this library.
int udfs_on_morvanfn(Attachment &db);
// What UdfAccess the database needs once the switch is done, said.
// engine_version: the engine's own string (Firebird 6 calls no UDF).
void advise_udf_access(bool udfs_left, const Out &out, const std::string &engine_version);
// The check statement's rows; true when one needs the DBA.
bool report_check(Attachment &db, const Out &out);
// What a switch did and left, from the catalogue (filled as it goes: a
// stop in the middle says what was committed).
struct Switched {
    int switched = 0;              // this run, committed
    bool refused = false;          // the engine refused one (said)
    bool left = false;             // declarations left as UDFs (said)
    std::vector<std::string> indexes_to_build; // expression indexes made inactive with the switch
};
// The switch, with every active expression index on a function it switches
// made inactive in the same transaction (a key the UDF computed is never
// read by the UDR), committed; then each index built with the UDR.
Switched run_switch(Attachment &db, const Out &out, Switched &s);
// Builds each index, in a transaction of its own; names what it cannot.
// True when every one was built.
bool build_indexes(Attachment &db, const std::vector<std::string> &names, unsigned dialect, const Out &out);
// Expression indexes on this library's UDR functions that are inactive: a
// switch that was stopped before it built them leaves them so.
std::vector<std::string> inactive_on_udr(Attachment &db);
int step_finish(Step &step, const std::vector<std::string> &a);

// --- restore.cpp, in_place.cpp ----------------------------------------------------

int restore(const Options &options);
// Who owns the restored database: --owner, or whoever owns the most of the
// backup's tables, views, procedures, functions and packages (SYSDBA when
// nobody does), said with the counts.
std::string choose_owner(const Options &options, const StepResult &found);
// A user's name given as the engine reads one (--owner, ISC_USER): "Alice_B"
// quoted stands as it is, alice bare is ALICE.
std::string name_as_engine_reads(const std::string &given);
int in_place(const Options &options, const Hooks &hooks);

} // namespace upgrade

#endif
