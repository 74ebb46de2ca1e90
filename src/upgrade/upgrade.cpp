// morvanfn-upgrade (upgrade.h).
//
// A restore runs in steps, each a child process of this program that loads
// the engine with the run's private configuration: the engine reads its
// configuration once per process, and a step that must stop is ended for
// sure by ending its process.  The steps speak to this, the parent, in
// lines on their standard output, each marked by a leading \x01, then TAG and
// fields separated by tabs (anything else a step writes, the engine's words
// or its own failure, is shown as it is):
//
//   say TEXT                 a line for the DBA
//   progress TABLE ROWS NAME the restore's progress, as the service reports it
//   value KEY TEXT           something found, for the parent's decisions
//   denied PATH              the engine refused to look for a UDF module there
//
// Their exit status: 0 done, 2 done with something for the DBA, 3 denied,
// 1 failed (said on standard error).
#include "upgrade.h"

#include "client.h"
#include "platform.h"
#include "sql_statements.h"

#include <ibase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

namespace upgrade {

namespace {

using Clock = std::chrono::steady_clock;

const char *const program = "morvanfn-upgrade";
// gbak's "Database is not online due to failure to activate one or more
// indices" (facility 12, message 246).
const intptr_t gbak_not_online = 336330998;
const int exit_done = 0, exit_failed = 1, exit_attention = 2, exit_denied = 3;

const char *const usage =
    "usage: morvanfn-upgrade [OPTION ...] COMMAND ...\n"
    "  restore BACKUP DATABASE   restore a backup made by any earlier server into DATABASE,\n"
    "                            a new file, with every declaration on this library switched\n"
    "                            to the UDR (it never replaces a file)\n"
    "  check DATABASE            say what each declaration on this library is (changes nothing)\n"
    "  switch DATABASE           switch the UDFs declared on this library to the UDR, in place\n"
    "options:\n"
    "  --firebird DIR   the Firebird whose engine and client to use: its root, holding plugins/\n"
    "                   (default: " MORVANFN_DEFAULT_FIREBIRD ")\n"
    "  --owner NAME     restore: the database's owner (default: the owner of its objects)\n"
    "  --udr FILE       this library's UDR module (default: DIR/plugins/udr/" MORVANFN_UDR_NAME ")\n"
    "  --               the end of the options: a name after it may start with -\n"
    "A DATABASE to check or switch is a file, opened by the engine embedded (no server),\n"
    "or a server's (inet://host/path, host:path) with ISC_USER and ISC_PASSWORD.\n"
    "Exit status: 0 done; 1 nothing made or changed, and why; 2 done, with something named\n"
    "for you.\n";

void say(const std::string &text)
{
    std::cout << program << ": " << text << std::endl;
}

// --- the lines between steps and the parent ----------------------------------

std::string escaped(const std::string &s)
{
    std::string e;
    for (char c : s) {
        if (c == '\\')
            e += "\\\\";
        else if (c == '\t')
            e += "\\t";
        else if (c == '\n')
            e += "\\n";
        else if (c == '\r')
            e += "\\r";
        else
            e += c;
    }
    return e;
}

std::vector<std::string> fields(const std::string &line)
{
    std::vector<std::string> f(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            f.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char n = line[++i];
            f.back() += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            f.back() += c;
        }
    }
    return f;
}

const char mark = '\x01';

void emit(std::initializer_list<std::string> parts)
{
    std::string line(1, mark);
    for (const std::string &p : parts)
        line += (line.size() == 1 ? "" : "\t") + escaped(p);
    std::cout << line << std::endl;
}

void step_says(const std::string &text)
{
    emit({"say", text});
}

std::string or_null(const Value &v)
{
    return v ? *v : "<null>";
}

// --- what the tool finds of the Firebird it runs -------------------------------

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    std::string firebird, owner, udr;
};

struct Layout {
    std::string root;     // the Firebird the DBA named
    std::string client;   // its client library
    std::string provider; // Engine12 (3.0) or Engine13 (4.0, 5.0)
    std::string udr;      // this library's UDR module
};

Layout find_layout(const Options &options)
{
    Layout l;
    std::string root = options.firebird;
    if (root.empty()) {
        const auto registered = default_firebird_root();
        root = registered ? *registered : MORVANFN_DEFAULT_FIREBIRD;
    }
    const auto real = real_directory(root);
    if (!real)
        throw Failure("no Firebird at " + root + " (name its root with --firebird DIR)");
    l.root = *real;
    for (const char *engine : {"Engine13", "Engine12"}) {
#ifdef _WIN32
        std::string file = std::string("engine") + (engine + 6) + ".dll";
#else
        std::string file = std::string("lib") + engine + ".so";
#endif
        if (is_file(join(join(l.root, "plugins"), file))) {
            l.provider = engine;
            break;
        }
    }
    if (l.provider.empty())
        throw Failure(l.root + " holds no Firebird 3, 4 or 5 engine (plugins/" +
#ifdef _WIN32
                      "engine13.dll or engine12.dll"
#else
                      "libEngine13.so or libEngine12.so"
#endif
                      "): name Firebird's root with --firebird DIR");
#ifdef _WIN32
    l.client = join(l.root, "fbclient.dll");
#else
    // An official build keeps its client in lib/, PyPI's beside the rest,
    // Debian's in the system's library directory.
    l.client = "libfbclient.so.2";
    for (const char *c : {"lib/libfbclient.so.2", "lib/libfbclient.so", "libfbclient.so.2", "libfbclient.so"})
        if (is_file(join(l.root, c))) {
            l.client = join(l.root, c);
            break;
        }
#endif
    // Named files as absolute paths: the steps run elsewhere.
    auto absolute = [](const std::string &file) {
        const auto dir = real_directory(directory_of(file));
        return dir ? join(*dir, name_of(file)) : file;
    };
    l.udr = options.udr.empty() ? join(join(join(l.root, "plugins"), "udr"), MORVANFN_UDR_NAME) : absolute(options.udr);
    if (!is_file(l.udr))
        throw Failure("no UDR module at " + l.udr + " (install this package for that Firebird, or name it with --udr FILE)");
    return l;
}

// A database named by a server (inet://, xnet://, host:path) rather than
// by a file.
bool remote(const std::string &database)
{
    if (database.find("://") != std::string::npos)
        return true;
    const size_t colon = database.find(':');
    return colon != std::string::npos && colon > 1 && database.find_first_of("/\\") > colon;
}

// --- a run's private engine root ------------------------------------------------

// A directory as firebird.conf and plugins.conf can hold it: none of the
// characters their syntax gives a meaning (; separates directories, # starts
// a comment, $( a macro, quotes and = their own), no control character,
// no blank at either end.
bool configurable(const std::string &path)
{
    if (path.empty() || path.front() == ' ' || path.back() == ' ')
        return false;
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || std::strchr(";#$\"'=", c))
            return false;
    return true;
}

std::string configurable_or_fail(const std::string &path, const std::string &what)
{
    if (!configurable(path))
        throw Failure(what + " " + path + " holds a character Firebird's configuration cannot carry (; # $ = or a quote)");
    return path;
}

struct RunRoot {
    std::string path;
    // The directories the engine may look in for a UDF module, as
    // firebird.conf writes them: an empty one of the run's own (no UDF runs
    // during a restore: the UDR computes every key of the expression indexes
    // on this library's functions once, after the switch), the run's lib/
    // (Linux tries "lib" + a path as a path relative to the root, and loads
    // it relative to the step's working directory, the run's root), and the
    // directories named by the backup that hold nothing to load.
    std::vector<std::string> udf_directories;
    std::optional<TargetLock> lock;
    void configure(const Layout &layout) const;
    ~RunRoot()
    {
        if (!path.empty())
            remove_tree(path);
        lock.reset();
    }
};

const char *const run_prefix = "morvanfn-upgrade-";

// The run roots of runs that were killed: a live run holds the lock beside
// its root, taken before the root was made.
void remove_dead_run_roots()
{
    const std::string temp = temp_directory();
    for (const std::string &n : entries(temp)) {
        const std::string root = join(temp, n);
        if (n.rfind(run_prefix, 0) == 0 && is_directory(root) && !lock_held(root + ".lock")) {
            remove_tree(root);
            remove_tree(root + ".lock");
            say("removed " + root + ", left by an earlier run that was stopped");
        }
    }
}

// The run's private root, in the temp directory under a plain name: its
// path goes into the engine's configuration.
void make_run_root(RunRoot &run, const Layout &layout)
{
    remove_dead_run_roots();
    run.path = configurable_or_fail(join(temp_directory(), run_prefix + unique_suffix()), "the temporary directory");
    run.lock.emplace(run.path + ".lock");
    if (!run.lock->held)
        throw Failure("cannot lock " + run.path + ".lock");
    make_directory(run.path);
    for (const char *dir : {"lock", "tmp", "lib", "no-udf"})
        make_directory(join(run.path, dir));
    // The engine's files, linked or copied: the engine runs from here.
    make_directory(join(run.path, "plugins"));
    auto mirror_files = [&](const char *dir) {
        const std::string from = join(layout.root, dir);
        for (const std::string &n : entries(from))
            if (is_file(join(from, n)))
                mirror(join(from, n), join(join(run.path, dir), n));
    };
    mirror_files("plugins");
    mirror_files("lib");
    for (const char *dir : {"intl", "tzdata"})
        if (is_directory(join(layout.root, dir)))
            mirror(join(layout.root, dir), join(run.path, dir));
    for (const std::string &n : entries(layout.root)) {
        const std::string f = join(layout.root, n);
        const bool wanted = n.size() > 4 && (n.substr(n.size() - 4) == ".msg" || n.substr(n.size() - 4) == ".dll" ||
                                             n.substr(n.size() - 4) == ".dat" || n.find(".so") != std::string::npos);
        if (wanted && is_file(f))
            mirror(f, join(run.path, n));
    }
#ifndef _WIN32
    // The engine wants Firebird's ib_util before it loads any UDF, and
    // looks for it in the root's lib/ among other places: this Firebird's own.
    for (const std::string &ib_util : {join(join(layout.root, "lib"), "libib_util.so"), join(layout.root, "libib_util.so"),
                                       join(directory_of(layout.client), "libib_util.so"),
                                       join(std::string("/usr/lib/") + MORVANFN_MULTIARCH, "libib_util.so")})
        if (is_file(ib_util) && !entry_exists(join(join(run.path, "lib"), "libib_util.so")))
            mirror(ib_util, join(join(run.path, "lib"), "libib_util.so"));
#endif
    run.udf_directories = {join(run.path, "no-udf"), join(run.path, "lib")};
    run.configure(layout);
}

void RunRoot::configure(const Layout &layout) const
{
    std::string dirs;
    for (const std::string &d : udf_directories)
        dirs += (dirs.empty() ? "" : ";") + configurable_or_fail(d, "the UDF directory");
    configurable_or_fail(directory_of(layout.udr), "the UDR module's directory");
    write_file(join(path, "firebird.conf"), "UdfAccess = Restrict " + dirs + "\nProviders = " + layout.provider +
                                                "\nTempDirectories = " + join(path, "tmp") + "\n");
    write_file(join(path, "plugins.conf"), "Plugin = UDR {\n\tModule = $(dir_plugins)/udr_engine\n\tConfig = UDR_config\n}\n"
                                           "Config = UDR_config {\n\tpath = " +
                                               directory_of(layout.udr) + "\n}\n");
}

void use_run_root(const std::string &run)
{
    set_environment("FIREBIRD", run);
    set_environment("FIREBIRD_TMP", join(run, "tmp"));
#ifndef _WIN32
    // On Windows the engine names its shared memory machine-wide whatever
    // the lock directory: one of its own would clash with a running
    // server's of the same version ("Wrong file for memory mapping").
    set_environment("FIREBIRD_LOCK", join(run, "lock"));
#endif
}

// --- a target database: its lock, and what earlier runs left ----------------

struct Target {
    std::string dir, name, path;
    std::string prefix() const { return "." + name + ".morvanfn-"; }
    std::string lock_path() const { return join(dir, prefix() + "lock"); }
    std::string own(const std::string &what) const { return join(dir, prefix() + what); }
};

Target target_of(const std::string &database)
{
    Target t;
    t.name = name_of(database);
    if (t.name.empty() || t.name == "." || t.name == "..")
        throw Failure("'" + database + "' names no file");
    const auto dir = real_directory(directory_of(database));
    if (!dir)
        throw Failure("no directory " + directory_of(database) + " for " + database);
    t.dir = *dir;
    t.path = join(t.dir, t.name);
    return t;
}

// Under the target's lock no other run is alive: what its name's runs left
// is from a run that was killed.
void remove_leftovers(const Target &target)
{
    for (const std::string &n : entries(target.dir))
        if (n.rfind(target.prefix(), 0) == 0 && join(target.dir, n) != target.lock_path()) {
            remove_tree(join(target.dir, n));
            say("removed " + join(target.dir, n) + ", left by an earlier run that was stopped");
        }
}

// A name as a statement in this dialect writes it: quoted, " doubled, in
// dialect 3; in dialect 1, which has no quoted names, only a plain one.
std::optional<std::string> sql_name(const std::string &name, unsigned dialect)
{
    if (dialect != 1)
        return quoted(name);
    if (name.empty() || name[0] < 'A' || name[0] > 'Z')
        return std::nullopt;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$'))
            return std::nullopt;
    return name;
}

void require(const TargetLock &lock, const Target &target)
{
    if (!lock.held)
        throw Failure("another morvanfn-upgrade run is working on " + target.path + " (" + target.lock_path() +
                      " is held): nothing was done");
}

// --- the steps, each in a process of its own ---------------------------------

// The client library of the layout's Firebird, loaded, for a step or for
// check and switch.
struct Step {
    Client client;
    explicit Step(const Layout &layout, const std::string &run, const Hooks &hooks) : client(layout.client)
    {
        if (hooks.client_loaded)
            hooks.client_loaded(client.module(), run.c_str());
    }
};

// A restore through the service manager, as user: its lines, the indexes
// it could not build, and how it ended.
enum class Restored { done, indexes_left, denied };

Restored restore_through_service(Client &client, const std::string &backup, const std::string &database,
                                 const std::string &user, bool metadata_only, std::string &denied_path)
{
    Service service = client.services(user, "");
    Parameters spb(client, Firebird::IXpbBuilder::SPB_START);
    spb.tag(isc_action_svc_restore)
        .text(isc_spb_bkp_file, backup)
        .text(isc_spb_dbname, database)
        .integer(isc_spb_options, isc_spb_res_create | (metadata_only ? isc_spb_res_metadata_only : 0));
    // Verbose: the progress, the indexes it cannot build, and gbak's last
    // word, which it says only once the whole backup has been read.
    spb.integer(isc_spb_verbint, 20000);
    service.start(spb);
    bool read_to_the_end = false;
    const std::string end = "finishing, closing, and going home";
    unsigned tables = 0;
    unsigned long long rows = 0;
    std::string table;
    const std::string restoring = "restoring data for table ", cannot = "cannot commit index ", error = "ERROR:";
    std::string failed_index, why;
    // gbak pads a name with blanks, which count for nothing in a name.
    auto name_at = [](const std::string &line, size_t from) {
        std::string name = line.substr(from);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\r'))
            name.pop_back();
        return name;
    };
    auto index_failed = [&] {
        if (!failed_index.empty())
            emit({"value", "failed_index", failed_index, why});
        failed_index.clear();
        why.clear();
    };
    try {
        for (bool finished = false; !finished;) {
            const auto line = service.next_line(finished);
            if (!line)
                continue;
            if (line->find(end) != std::string::npos)
                read_to_the_end = true;
            if (metadata_only)
                continue;
            const size_t r = line->find(restoring), c = line->find(cannot), e = line->find(error);
            if (!failed_index.empty() && e != std::string::npos) {
                // The engine's reasons, one a line, after the index's name.
                std::string reason = line->substr(e + error.size());
                reason.erase(0, reason.find_first_not_of(' '));
                while (!reason.empty() && reason.back() == ' ')
                    reason.pop_back();
                if (why.find(reason) == std::string::npos)
                    why += (why.empty() ? "" : ": ") + reason;
                continue;
            }
            index_failed();
            if (r != std::string::npos) {
                table = name_at(*line, r + restoring.size());
                ++tables;
                rows = 0;
            } else if (c != std::string::npos) {
                failed_index = name_at(*line, c + cannot.size());
                continue;
            } else if (line->find(" records restored") != std::string::npos) {
                rows = std::strtoull(line->c_str() + line->find_first_not_of(" gbak:"), nullptr, 10);
            } else {
                continue;
            }
            emit({"progress", std::to_string(tables), std::to_string(rows), table});
        }
        index_failed();
    } catch (const EngineError &e) {
        index_failed();
        if (const auto *access = e.find(isc_conf_access_denied))
            if (access->arguments.size() == 2 && access->arguments[0] == "UDF/BLOB-filter module") {
                denied_path = access->arguments[1];
                return Restored::denied;
            }
        if (!e.has(gbak_not_online))
            throw;
        if (read_to_the_end)
            return Restored::indexes_left;
    }
    if (!read_to_the_end)
        throw Failure("the restore ended before the backup did (a truncated backup, or the first of several "
                      "volumes): nothing was made");
    return Restored::done;
}

const char *const users_query = R"(
SELECT DISTINCT CAST(TRIM(u) AS VARCHAR(63) CHARACTER SET UTF8) FROM (
    SELECT RDB$OWNER_NAME AS u FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$PROCEDURES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$FUNCTIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$PACKAGES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$ROLES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$GENERATORS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$EXCEPTIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$USER FROM RDB$USER_PRIVILEGES WHERE RDB$USER_TYPE = 8
    UNION SELECT RDB$GRANTOR FROM RDB$USER_PRIVILEGES)
WHERE u IS NOT NULL AND TRIM(u) NOT IN ('SYSDBA', 'PUBLIC') ORDER BY 1)";

const char *const owners_query = R"(
SELECT CAST(TRIM(o) AS VARCHAR(63) CHARACTER SET UTF8), COUNT(*) FROM (
    SELECT RDB$OWNER_NAME AS o FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION ALL SELECT RDB$OWNER_NAME FROM RDB$PROCEDURES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION ALL SELECT RDB$OWNER_NAME FROM RDB$FUNCTIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION ALL SELECT RDB$OWNER_NAME FROM RDB$PACKAGES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0)
WHERE o IS NOT NULL GROUP BY 1 ORDER BY 2 DESC, 1)";

// meta RUN BACKUP SCRATCH: the backup's metadata alone, restored as SYSDBA,
// read for the engine's version, the owners, the users and the tables.
int step_meta(Step &step, const std::vector<std::string> &a)
{
    std::string denied;
    if (restore_through_service(step.client, a[2], a[3], "SYSDBA", true, denied) == Restored::denied) {
        emit({"denied", denied});
        return exit_denied;
    }
    Attachment db = step.client.attach(a[3], "SYSDBA", "", 3);
    emit({"value", "engine", db.engine_version()});
    for (const Row &r : db.query(owners_query))
        emit({"value", "owner", or_null(r[0]), or_null(r[1])});
    for (const Row &r : db.query(users_query))
        emit({"value", "user", or_null(r[0])});
    const auto tables = db.query("SELECT COUNT(*) FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                                 "AND RDB$VIEW_BLR IS NULL AND RDB$EXTERNAL_FILE IS NULL");
    emit({"value", "tables", or_null(tables[0][0])});
    db.detach();
    return exit_done;
}

// restore RUN BACKUP SCRATCH OWNER: the whole backup, as its owner.
int step_restore(Step &step, const std::vector<std::string> &a)
{
    std::string denied;
    const Restored how = restore_through_service(step.client, a[2], a[3], a[4], false, denied);
    if (how == Restored::denied) {
        emit({"denied", denied});
        return exit_denied;
    }
    emit({"value", "restored", how == Restored::done ? "online" : "indexes left"});
    return exit_done;
}

// The check statement's rows, for the DBA; true when one needs them.
bool report_check(Attachment &db, const std::function<void(const std::string &)> &out)
{
    bool attention = false;
    db.each(check_statement, {}, [&](const Row &r) {
        // function_name, kind, entry_point, arguments, result, dependents, verdict, note
        out("  " + or_null(r[0]) + ": " + or_null(r[1]) + ", " + or_null(r[2]) + " (" + or_null(r[3]) + ") -> " +
            or_null(r[4]) + "; used by " + or_null(r[5]) + " object(s)");
        out("      " + or_null(r[6]));
        if (r[7])
            out("      note: " + *r[7]);
        attention = attention || (r[6] && r[6]->rfind("UNSAFE", 0) == 0);
    });
    db.commit();
    return attention;
}

// The switch, and the catalogue read after it: true when the engine
// refused something (said in the rows).  switched: how many this run did.
bool run_switch(Attachment &db, const std::function<void(const std::string &)> &out, int &switched)
{
    bool left = false;
    db.each(switch_to_udr_statement, {}, [&](const Row &r) {
        out("  " + or_null(r[0]) + ": " + or_null(r[1]));
        left = left || (r[1] && r[1]->rfind("left as a UDF", 0) == 0);
    });
    db.commit();
    bool refused = false;
    switched = 0;
    try {
        db.each(after_switch_statement, {}, [&](const Row &r) {
            if (r[0] && *r[0] == "(all)") {
                out("  " + or_null(r[1]));
                const std::string &t = *r[1];
                const size_t at = t.find("this run switched ");
                if (at != std::string::npos)
                    switched = std::atoi(t.c_str() + at + 18);
            } else if (r[1] && (r[1]->rfind("its expression index", 0) == 0)) {
                out("  " + or_null(r[0]) + ": " + *r[1]);
            }
        });
    } catch (const EngineError &e) {
        // The statement's own failure, after its rows: a conversion error
        // from its text (isc_convert_error, "switch_to_udr.sql: ...").
        const auto *refusal = e.find(isc_convert_error);
        if (!refusal || refusal->arguments.empty() || refusal->arguments[0].rfind("switch_to_udr.sql:", 0) != 0)
            throw;
        refused = true;
    }
    db.commit();
    return refused || left;
}

int step_finish(Step &step, const std::vector<std::string> &a)
{
    // a: finish RUN SCRATCH OWNER [FAILED_INDEX ...]
    Client &client = step.client;
    const std::string &database = a[2], &owner = a[3];
    bool attention = false;
    Attachment probe = client.attach(database, owner, "", 3);
    const std::string mode = or_null(probe.query("SELECT MON$SHUTDOWN_MODE FROM MON$DATABASE")[0][0]);
    const unsigned dialect = probe.database_dialect();
    probe.detach();
    // A restore that could not build an index leaves the database shut
    // down: brought online first, with the index inactive.
    if (mode != "0") {
        Service service = client.services(owner, "");
        Parameters spb(client, Firebird::IXpbBuilder::SPB_START);
        spb.tag(isc_action_svc_properties).text(isc_spb_dbname, database);
        spb.integer(isc_spb_options, isc_spb_prp_db_online);
        service.start(spb);
        for (bool finished = false; !finished;)
            service.next_line(finished);
    }
    // The rules run as isql runs them, in the database's dialect.
    Attachment db = client.attach(database, owner, "", dialect);
    step_says("switching the UDFs declared on morvanfn to morvanfn_udr:");
    int switched = 0;
    attention = run_switch(db, step_says, switched) || attention;

    // The indexes the restore could not build without the UDFs, now that
    // the functions work; every name quoted, whatever the backup called it,
    // in the database's dialect (dialect 1 changes no metadata in another).
    for (size_t i = 4; i < a.size(); ++i) {
        const auto state = db.query("SELECT COALESCE(RDB$INDEX_INACTIVE, 0) FROM RDB$INDICES WHERE RDB$INDEX_NAME = ?", {a[i]});
        db.commit();
        if (state.empty() || or_null(state[0][0]) == "0")
            continue;
        const auto name = sql_name(a[i], dialect);
        if (!name) {
            step_says("index " + a[i] + " stays inactive: its name needs quotes, which a dialect 1 database has not");
            continue;
        }
        try {
            db.execute("ALTER INDEX " + *name + " ACTIVE");
            db.commit();
            step_says("index " + a[i] + " built with the UDR");
        } catch (const EngineError &e) {
            db.rollback();
            step_says("index " + a[i] + " could not be built: " + e.what());
        }
    }

    step_says("check:");
    attention = report_check(db, step_says) || attention;

    // The truth, from the catalogue: indexes, owner, users, online.
    std::vector<std::string> inactive;
    for (const Row &r : db.query("SELECT CAST(TRIM(RDB$INDEX_NAME) AS VARCHAR(63) CHARACTER SET UTF8), "
                                  "CAST(TRIM(RDB$RELATION_NAME) AS VARCHAR(63) CHARACTER SET UTF8) FROM RDB$INDICES "
                                  "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND COALESCE(RDB$INDEX_INACTIVE, 0) <> 0 ORDER BY 1"))
        inactive.push_back(or_null(r[0]) + " on " + or_null(r[1]));
    const auto active = db.query("SELECT COUNT(*) FROM RDB$INDICES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                                  "AND COALESCE(RDB$INDEX_INACTIVE, 0) = 0");
    std::string list;
    for (const std::string &i : inactive)
        list += (list.empty() ? "" : ", ") + i;
    step_says("indexes: " + or_null(active[0][0]) + " active, " + std::to_string(inactive.size()) + " inactive" +
              (list.empty() ? "" : ": " + list));
    for (size_t i = 4; i < a.size(); ++i)
        for (const std::string &n : inactive)
            if (n.rfind(a[i] + " on ", 0) == 0)
                attention = true;
    const auto mon = db.query("SELECT CAST(TRIM(MON$OWNER) AS VARCHAR(63) CHARACTER SET UTF8), MON$SHUTDOWN_MODE FROM MON$DATABASE");
    emit({"value", "database_owner", or_null(mon[0][0])});
    if (or_null(mon[0][1]) != "0")
        throw Failure("the database is not online (shutdown mode " + or_null(mon[0][1]) + ")");
    db.commit();
    db.detach();
    return attention ? exit_attention : exit_done;
}

int run_step(const std::vector<std::string> &a, const Options &options, const Hooks &hooks)
{
    const Layout layout = find_layout(options);
    use_run_root(a[1]);
    // The engine looks for a library named "lib" + a path relative to the
    // working directory: the run's root, where lib/ has none.
    change_directory(a[1]);
    Step step(layout, a[1], hooks);
    int status = exit_failed;
    try {
        if (a[0] == "meta")
            status = step_meta(step, a);
        else if (a[0] == "restore")
            status = step_restore(step, a);
        else if (a[0] == "finish")
            status = step_finish(step, a);
        else
            throw Failure("no step " + a[0]);
    } catch (const std::exception &e) {
        std::cerr << program << ": FAILED: " << e.what() << std::endl;
    }
    // Every attachment is detached by now, and a service has detached from
    // its database before it says it has finished; but its thread may still
    // be running engine code, and returning from main let an exit handler
    // (the trace plugin's) unload the engine under it, as would a shutdown
    // (SIGSEGV, now and then, with Debian's 3.0.11).  The process ends here,
    // its output flushed, running no exit handler.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(status);
}

// --- the parent: a restore ------------------------------------------------------

struct Stopped {};

std::string thousands(unsigned long long n)
{
    std::string s = std::to_string(n);
    for (int i = int(s.size()) - 3; i > 0; i -= 3)
        s.insert(size_t(i), ",");
    return s;
}

// Shows a restore's progress: a bar on a terminal, a line every few seconds
// otherwise.
class Progress {
public:
    explicit Progress(unsigned tables) : tables_(tables) {}
    void update(unsigned table, unsigned long long rows, const std::string &name)
    {
        table_ = table, rows_ = rows, name_ = name;
        const auto now = Clock::now();
        if (terminal_) {
            if (now - shown_ < std::chrono::milliseconds(200))
                return;
            const unsigned width = 30, done = tables_ ? std::min(width, (table_ - (table_ ? 1 : 0)) * width / tables_) : 0;
            std::string line = "\r  [" + std::string(done, '#') + std::string(width - done, '.') + "] table " +
                               std::to_string(table_) + " of " + std::to_string(tables_) + ", " + name_.substr(0, 31) +
                               ": " + thousands(rows_) + " rows";
            std::cerr << line << std::string(line.size() < 100 ? 100 - line.size() : 0, ' ') << std::flush;
            shown_ = now;
        } else if (now - shown_ >= std::chrono::seconds(5)) {
            say("restoring: table " + std::to_string(table_) + " of " + std::to_string(tables_) + " (" + name_ + "), " +
                thousands(rows_) + " rows of it so far");
            shown_ = now;
        }
    }
    void done()
    {
        if (terminal_ && table_)
            std::cerr << "\r  [" << std::string(30, '#') << "] " << tables_ << " tables" << std::string(70, ' ') << "\n";
    }

private:
    bool terminal_ = terminal();
    unsigned tables_, table_ = 0;
    unsigned long long rows_ = 0;
    std::string name_;
    Clock::time_point shown_ = Clock::now();
};

struct StepResult {
    int status = exit_failed;
    std::multimap<std::string, std::vector<std::string>> values;
    std::string denied;
    std::string first(const std::string &key) const
    {
        const auto i = values.find(key);
        return i == values.end() || i->second.empty() ? "" : i->second[0];
    }
};

StepResult run_child(const std::vector<std::string> &arguments, Progress *progress)
{
    StepResult result;
    Child child(arguments);
    for (;;) {
        if (stop_requested()) {
            child.kill();
            throw Stopped();
        }
        bool ended = false;
        const auto line = child.line(ended);
        if (ended)
            break;
        if (!line)
            continue;
        if (line->empty() || (*line)[0] != mark) {
            if (!line->empty())
                std::cerr << *line << std::endl;
            continue;
        }
        std::vector<std::string> f = fields(line->substr(1));
        if (f[0] == "say" && f.size() > 1)
            say(f[1]);
        else if (f[0] == "progress" && f.size() > 3 && progress)
            progress->update(unsigned(std::atoi(f[1].c_str())), std::strtoull(f[2].c_str(), nullptr, 10), f[3]);
        else if (f[0] == "value" && f.size() > 1)
            result.values.emplace(f[1], std::vector<std::string>(f.begin() + 2, f.end()));
        else if (f[0] == "denied" && f.size() > 1)
            result.denied = f[1];
    }
    result.status = child.wait();
    if (stop_requested())
        throw Stopped();
    // A step that ended without a word: say how (a signal, say).
    if (result.status != exit_done && result.status != exit_attention && result.status != exit_denied &&
        result.status != exit_failed)
        say("the step " + arguments[arguments.size() > 5 ? 5 : 0] + " ended with status " + std::to_string(result.status) +
            (result.status > 128 ? " (signal " + std::to_string(result.status - 128) + ")" : ""));
    return result;
}

// Why the engine may not look in the directory of a module the backup
// names by a path, or nullopt when it may (nothing can be loaded from there).
std::optional<std::string> why_not(const std::string &module, std::vector<std::string> &made)
{
    const std::string dir = directory_of(module);
    if (!configurable(dir))
        return "its directory's name holds characters Firebird's configuration cannot carry";
    return unsafe_library_directory(dir, made);
}

std::vector<std::string> step_arguments(const Layout &layout, std::vector<std::string> step)
{
    std::vector<std::string> a = {"--firebird", layout.root, "--udr", layout.udr, "--step"};
    a.insert(a.end(), step.begin(), step.end());
    return a;
}

int restore(const Options &options)
{
    if (options.arguments.size() != 2)
        throw Failure("restore takes BACKUP DATABASE");
    const std::string &backup_name = options.arguments[0];
    const auto backup_dir = real_directory(directory_of(backup_name));
    const std::string backup = backup_dir ? join(*backup_dir, name_of(backup_name)) : backup_name;
    if (!is_file(backup) || !std::ifstream(backup, std::ios::binary))
        throw Failure("cannot read the backup " + backup_name);
    const Target target = target_of(options.arguments[1]);
    if (entry_exists(target.path))
        throw Failure(target.path + " exists: give the name of a new file (this never replaces one)");
    const Layout layout = find_layout(options);

    TargetLock held(target.lock_path());
    require(held, target);
    remove_leftovers(target);
    const std::string run_id = unique_suffix();
    const std::string meta = target.own(run_id + ".meta.fdb"), scratch = target.own(run_id + ".fdb");
    struct Cleanup {
        std::vector<std::string> paths;
        ~Cleanup()
        {
            for (const std::string &p : paths)
                remove_tree(p);
        }
    } cleanup{{meta, scratch}};
    // Directories made for the engine to find nothing in, removed last.
    struct Made {
        std::vector<std::string> dirs;
        ~Made()
        {
            for (auto d = dirs.rbegin(); d != dirs.rend(); ++d)
                remove_tree(*d);
        }
    } made;
    RunRoot run;
    make_run_root(run, layout);
    use_run_root(run.path);

    // 1. The metadata alone: what the engine refuses, who owns what.
    say("reading " + backup + " with the Firebird in " + layout.root + " (embedded, no UDF loaded)");
    StepResult found;
    for (int attempt = 0;; ++attempt) {
        remove_tree(meta);
        found = run_child(step_arguments(layout, {"meta", run.path, backup, meta}), nullptr);
        if (found.status != exit_denied)
            break;
        const size_t before = made.dirs.size();
        const auto why = why_not(found.denied, made.dirs);
        if (why || attempt > 20) {
            say("the backup declares a UDF whose module is named by the path " + found.denied + ":");
            say("restoring it would need the engine to load a library from there, and " +
                (why ? *why : "the backup names more such directories than this tool allows") + ";");
            say("this tool never lets the engine load a library that a backup names. Nothing was made. "
                "Declare that function on the old server with a module name alone");
            say("(or drop it), back up again, and restore that backup.");
            return exit_failed;
        }
        say("the backup names the UDF module " + found.denied + ", whose directory holds nothing to load: "
            "the engine may look there, and finds nothing");
        for (size_t i = before; i < made.dirs.size(); ++i)
            say("made " + made.dirs[i] + " for this run, open to SYSTEM, the administrators and its owner alone");
        run.udf_directories.push_back(directory_of(found.denied));
        run.configure(layout);
    }
    if (found.status != exit_done)
        throw Failure("the engine could not read the backup's metadata (above): nothing was made");
    remove_tree(meta);
    say("engine: " + found.first("engine"));

    // 2. The owner: the DBA's, or whoever owns the user objects.
    std::string owner = options.owner;
    if (owner.empty()) {
        const auto o = found.values.find("owner");
        owner = o == found.values.end() ? "SYSDBA" : o->second[0];
        unsigned total = 0;
        for (auto i = found.values.lower_bound("owner"); i != found.values.upper_bound("owner"); ++i)
            total += unsigned(std::atoi(i->second[1].c_str()));
        say("owner: " + owner + " (a backup does not say who owned the database: " + owner + " owns " +
            (o == found.values.end() ? "0" : o->second[1]) + " of its " + std::to_string(total) +
            " tables, views, procedures, functions and packages; --owner NAME names another)");
    } else {
        say("owner: " + owner + " (given with --owner)");
    }

    // 3. The restore itself, as the owner.
    Progress progress(unsigned(std::atoi(found.first("tables").c_str())));
    say("restoring into " + scratch);
    const auto started = Clock::now();
    StepResult restored = run_child(step_arguments(layout, {"restore", run.path, backup, scratch, owner}), &progress);
    progress.done();
    if (restored.status != exit_done)
        throw Failure(restored.status == exit_denied ? "the engine refused to look for a UDF module in " + restored.denied
                                                     : "the restore failed (above): nothing was made");
    std::vector<std::string> finish = {"finish", run.path, scratch, owner};
    std::string left;
    for (auto i = restored.values.lower_bound("failed_index"); i != restored.values.upper_bound("failed_index"); ++i) {
        finish.push_back(i->second[0]);
        left += (left.empty() ? "" : "; ") + i->second[0] + (i->second.size() > 1 ? " (" + i->second[1] + ")" : "");
    }
    say("restored in " + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count()) +
        " s" + (left.empty() ? "" : "; indexes the restore could not build, for after the switch: " + left));

    // 4. Switch, indexes, check, and the catalogue's word on each.
    StepResult finished = run_child(step_arguments(layout, finish), nullptr);
    if (finished.status != exit_done && finished.status != exit_attention)
        throw Failure("the database could not be finished (above): nothing was made");
    const std::string database_owner = finished.first("database_owner");
    say("database owner: " + database_owner + (database_owner == owner ? "" : " (NOT " + owner + ")"));
    std::string users;
    for (auto i = found.values.lower_bound("user"); i != found.values.upper_bound("user"); ++i)
        users += (users.empty() ? "" : ", ") + i->second[0];
    if (!users.empty())
        say("users this database names (owners, grants): " + users + ". A backup holds no users or passwords: "
            "create on the new server those it lacks (CREATE USER name PASSWORD '...', as SYSDBA)");

    // 5. The finished database takes its name, unless something is there.
    if (!publish(scratch, target.path))
        throw Failure("something appeared at " + target.path + " meanwhile: it was left as it is, and nothing was made");
    own_like_directory(target.path, target.dir);
    const bool attention = finished.status == exit_attention || database_owner != owner;
    say("done: " + target.path + (attention ? ", with what is named above left for you" : ""));
    return attention ? exit_attention : exit_done;
}

// --- check and switch, in place ---------------------------------------------------

int in_place(const Options &options, const Hooks &hooks)
{
    if (options.arguments.size() != 1)
        throw Failure(options.command + " takes DATABASE");
    const std::string &database = options.arguments[0];
    const Layout layout = find_layout(options);
    std::optional<TargetLock> held;
    RunRoot run;
    std::string name = database, user = environment("ISC_USER"), password;
    if (remote(database)) {
        password = environment("ISC_PASSWORD");
        if (user.empty())
            throw Failure("a server's database needs ISC_USER and ISC_PASSWORD");
    } else {
        const Target target = target_of(database);
        if (!is_file(target.path))
            throw Failure("no database " + target.path);
        held.emplace(target.lock_path());
        require(*held, target);
        remove_leftovers(target);
        make_run_root(run, layout);
        use_run_root(run.path);
        name = target.path;
        if (user.empty())
            user = "SYSDBA";
    }
    Step step(layout, run.path, hooks);
    Client &client = step.client;
    Attachment probe = client.attach(name, user, password, 3);
    say("engine: " + probe.engine_version() + (remote(database) ? "" : " (embedded)"));
    const unsigned dialect = probe.database_dialect();
    probe.detach();
    Attachment db = client.attach(name, user, password, dialect);
    auto out = [](const std::string &line) { say(line); };
    int status = exit_done;
    if (options.command == "switch") {
        int switched = 0;
        say("switching the UDFs declared on morvanfn to morvanfn_udr:");
        if (run_switch(db, out, switched))
            status = switched == 0 ? exit_failed : exit_attention;
    }
    say("check:");
    if (report_check(db, out) && status == exit_done)
        status = exit_attention;
    db.detach();
    client.shutdown();
    return status;
}

} // namespace

int main(int argc, char **argv, const Hooks &hooks)
{
    Options options;
    std::vector<std::string> step;
    bool in_step = false, options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw Failure(a + " needs a value");
            return argv[++i];
        };
        try {
            if (in_step) {
                step.push_back(a);
            } else if (!options_end && a == "--") {
                options_end = true;
            } else if (!options_end && a == "--firebird") {
                options.firebird = value();
            } else if (!options_end && a == "--owner") {
                options.owner = value();
            } else if (!options_end && a == "--udr") {
                options.udr = value();
            } else if (!options_end && a == "--step") {
                in_step = true;
            } else if (!options_end && (a == "--help" || a == "-h")) {
                std::cout << usage;
                return exit_done;
            } else if (!options_end && a.size() > 1 && a[0] == '-') {
                std::cerr << program << ": unknown option " << a << "\n" << usage;
                return exit_failed;
            } else if (options.command.empty()) {
                options.command = a;
            } else {
                options.arguments.push_back(a);
            }
        } catch (const Failure &e) {
            std::cerr << program << ": " << e.what() << "\n";
            return exit_failed;
        }
    }
    try {
        if (in_step)
            return run_step(step, options, hooks);
        if (options.command.empty()) {
            std::cerr << usage;
            return exit_failed;
        }
        catch_stop_signals();
        if (options.command == "restore")
            return restore(options);
        if (options.command == "check" || options.command == "switch")
            return in_place(options, hooks);
        std::cerr << program << ": no command " << options.command << "\n" << usage;
        return exit_failed;
    } catch (const Stopped &) {
        std::cerr << program << ": stopped: nothing was made\n";
        return exit_failed;
    } catch (const EngineError &e) {
        std::cerr << program << ": FAILED: " << e.what() << (e.sqlstate.empty() ? "" : " (SQLSTATE " + e.sqlstate + ")")
                  << "\n";
    } catch (const std::exception &e) {
        std::cerr << program << ": FAILED: " << e.what() << "\n";
    }
    return exit_failed;
}

} // namespace upgrade
