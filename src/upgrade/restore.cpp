// morvanfn-upgrade restore BACKUP [VOLUME ...] DATABASE: the phases in order
// (tool.h).
//
// The backup is restored by the chosen Firebird's engine, embedded, in
// steps of their own, into a directory of the run's own beside DATABASE;
// the declarations on this library are switched to the UDR, the indexes
// on them built with it, and only a finished, online database takes the
// name DATABASE, which is never replaced.
#include "tool.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>

namespace upgrade {

namespace {

using Clock = std::chrono::steady_clock;

// Why the engine may not look in the directory of a module the backup
// names by a path, or nullopt when it may (nothing can be loaded from there).
std::optional<std::string> why_not(const std::string &module, std::vector<std::string> &made)
{
    const std::string dir = directory_of(module);
    if (!configurable(dir))
        return "its directory's name holds characters Firebird's configuration cannot carry";
    return unsafe_library_directory(dir, made);
}

// Directories made for the engine to find nothing in (Windows), removed last.
struct Made {
    std::vector<std::string> dirs;
    Made() = default;
    Made(const Made &) = delete;
    Made &operator=(const Made &) = delete;
    ~Made()
    {
        for (auto d = dirs.rbegin(); d != dirs.rend(); ++d) {
            const auto parent = real_directory(directory_of(*d));
            if (parent)
                Directory(*parent).remove_own(name_of(*d));
        }
    }
};

// The run's work directory beside the target, removed with what is in it
// unless the finished database was kept there.
struct Work {
    const Target &target;
    std::string name;
    std::optional<Directory> dir;
    bool keep = false;
    Work(const Target &t) : target(t), name(t.prefix() + unique_suffix() + ".d") { dir.emplace(t.dir->make_private(name)); }
    Work(const Work &) = delete;
    Work &operator=(const Work &) = delete;
    ~Work()
    {
        if (keep)
            return;
        const FileId id = dir->id();
        dir.reset(); // Windows removes no directory that is held open
        target.dir->remove_own(name, id);
    }
};

// The backup's volumes, in the order given, each a file that can be read,
// none named twice.
std::vector<std::string> backup_volumes(const Options &options)
{
    std::vector<std::string> volumes;
    std::vector<FileId> ids;
    for (size_t i = 0; i + 1 < options.arguments.size(); ++i) {
        const std::string &name = options.arguments[i];
        const auto dir = real_directory(directory_of(name));
        const std::string backup = dir ? join(*dir, name_of(name)) : name;
        if (!is_file(backup) || !std::ifstream(backup, std::ios::binary))
            throw Failure("cannot read the backup " + name);
        const auto id = identity_of(backup);
        for (size_t j = 0; id && j < ids.size(); ++j)
            if (ids[j] == *id)
                throw Failure("the volume " + name + " is named twice (as " + volumes[j] + " too): give each volume "
                              "once, in the order gbak wrote them");
        if (id)
            ids.push_back(*id);
        volumes.push_back(backup);
    }
    return volumes;
}

std::string listed(const std::vector<std::string> &volumes)
{
    std::string l;
    for (const std::string &v : volumes)
        l += (l.empty() ? "" : ", ") + v;
    return l + (volumes.size() > 1 ? " (" + std::to_string(volumes.size()) + " volumes)" : "");
}

// The directory a backup names this library in, to hide from the engine
// for the run, or nullopt where it may not be: a module of another name, a
// system that cannot, or a directory that holds anything the run needs.
std::optional<std::string> hidden_for_run(const std::string &module, const Layout &layout, const RunRoot &run,
                                          const Work &work, const std::vector<std::string> &backup)
{
    std::string name;
    for (char c : name_of(module))
        name += char(std::tolower(static_cast<unsigned char>(c)));
    if (name != "morvanfn" && name != "morvanfn.so" && name != "morvanfn.dll" && name != "libmorvanfn.so")
        return std::nullopt;
    if (!can_hide_directories() || !configurable(directory_of(module)))
        return std::nullopt;
    const auto dir = real_directory(directory_of(module));
    if (!dir || *dir == "/")
        return std::nullopt;
    std::vector<std::string> needed = {run.path, layout.root, layout.udr, layout.client, work.dir->path(), temp_directory()};
    needed.insert(needed.end(), backup.begin(), backup.end());
    for (const std::string &p : needed) {
        const auto real = real_directory(is_directory(p) ? p : directory_of(p));
        const std::string r = real ? *real : p;
        if (r == *dir || r.rfind(*dir + separator, 0) == 0)
            return std::nullopt;
    }
    return dir;
}

// 1. The metadata alone: what the engine refuses, who owns what.
StepResult read_metadata(const Layout &layout, RunRoot &run, const std::vector<std::string> &backup, Work &work, Made &made)
{
    say("reading " + listed(backup) + " with the Firebird in " + layout.root + " (embedded, no UDF loaded)");
    std::vector<std::string> meta = {"meta", run.path, work.dir->path(), id_text(work.dir->id())};
    meta.insert(meta.end(), backup.begin(), backup.end());
    for (int attempt = 0;; ++attempt) {
        work.dir->remove_own("meta.fdb");
        StepResult found = run_child(step_arguments(layout, meta, run.unseen), nullptr);
        work.dir->remove_own("meta.fdb");
        if (found.status != exit_denied) {
            if (found.status != exit_done)
                throw Failure("the engine could not read the backup's metadata (above): nothing was made");
            return found;
        }
        const size_t before = made.dirs.size();
        const auto why = why_not(found.denied, made.dirs);
        // This library, named by the old server's path, where files still
        // are (the same-machine upgrade): the engine sees that directory
        // empty for the run, and loads nothing from it.
        const auto hidden = why ? hidden_for_run(found.denied, layout, run, work, backup) : std::nullopt;
        if (hidden && attempt <= 20) {
            say("the backup names this library by the path " + found.denied + ", whose directory holds files: " +
                "for this run the engine sees " + *hidden + " empty (a mount of the run's own), and loads nothing "
                "from it; the declarations there are switched to the UDR");
            run.unseen.push_back(*hidden);
            run.udf_directories.push_back(directory_of(found.denied));
            run.configure(layout);
            continue;
        }
        if (why || attempt > 20) {
            say("the backup declares a UDF whose module is named by the path " + found.denied + ":");
            say("restoring it would need the engine to load a library from there, and " +
                (why ? *why : "the backup names more such directories than this tool allows") + ";");
            say("this tool never lets the engine load a library that a backup names. Nothing was made. "
                "On the old server, give that function a module name alone");
            say("(ALTER EXTERNAL FUNCTION name MODULE_NAME 'morvanfn', for this library; what uses it keeps "
                "working), back up again, and restore that backup.");
            throw Failure("nothing was made");
        }
        say("the backup names the UDF module " + found.denied + ", whose directory holds nothing to load: "
            "the engine may look there, and finds nothing");
        for (size_t i = before; i < made.dirs.size(); ++i)
            say("made " + made.dirs[i] + " for this run, open to SYSTEM, the administrators and its owner alone");
        run.udf_directories.push_back(directory_of(found.denied));
        run.configure(layout);
    }
}

// 3. The restore itself, as the owner: the indexes it could not build.
std::vector<std::string> restore_data(const Layout &layout, const RunRoot &run, const std::vector<std::string> &backup,
                                      Work &work, const std::string &owner, const StepResult &found)
{
    Progress progress(unsigned(std::atoi(found.first("tables").c_str())));
    say("restoring into " + join(work.dir->path(), "database.fdb"));
    const auto started = Clock::now();
    std::vector<std::string> step = {"restore", run.path, work.dir->path(), id_text(work.dir->id()), owner};
    step.insert(step.end(), backup.begin(), backup.end());
    const StepResult restored = run_child(step_arguments(layout, step, run.unseen), &progress);
    progress.done();
    if (restored.status != exit_done)
        throw Failure(restored.status == exit_denied ? "the engine refused to look for a UDF module in " + restored.denied
                                                     : "the restore failed (above): nothing was made");
    std::vector<std::string> failed;
    std::string left;
    for (const auto &f : restored.all("failed_index")) {
        failed.push_back(f[0]);
        left += (left.empty() ? "" : "; ") + f[0] + (f.size() > 1 && !f[1].empty() ? " (" + f[1] + ")" : "");
    }
    const std::string took =
        "restored in " + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count()) + " s";
    if (firebird6_or_later(layout.provider)) {
        failed.clear();
        for (const auto &i : found.all("active_index"))
            failed.push_back(i[0]);
        say(took + "; this Firebird evaluates no UDF safely, so the restore built no index: the " +
            std::to_string(failed.size()) + " the backup has active are built after the switch");
        return failed;
    }
    say(took + (left.empty() ? "" : "; indexes the restore could not build, for after the switch: " + left));
    return failed;
}

// 5. The finished database takes its name, unless something is there.
void publish(const Target &target, Work &work)
{
    HeldFile finished(*work.dir, "database.fdb");
    finished.give_to_owner_of(*target.dir);
    switch (finished.publish(*work.dir, "database.fdb", *target.dir, target.name)) {
    case HeldFile::Published::done:
        return;
    case HeldFile::Published::occupied:
        work.keep = true;
        throw Failure("something appeared at " + target.path + " meanwhile: it was left as it is; the finished "
                      "database is " + join(work.dir->path(), "database.fdb") + ", to move there yourself");
    case HeldFile::Published::impossible:
        work.keep = true;
        throw Failure("this file system can neither link nor move the finished database to " + target.path +
                      " without the risk of replacing something: it is " + join(work.dir->path(), "database.fdb") +
                      ", to move there yourself");
    }
}

} // namespace

std::string name_as_engine_reads(const std::string &given)
{
    std::string name;
    if (!given.empty() && given[0] == '"') {
        for (size_t i = 1; i < given.size(); ++i) {
            if (given[i] == '"') {
                if (i + 1 == given.size())
                    return name;
                if (given[++i] != '"')
                    break;
            }
            name += given[i];
        }
        throw Failure("the name " + given + " opens a quote it does not close as SQL would (\"Alice_B\", with \" doubled inside)");
    }
    bool plain = true;
    for (char c : given)
        plain = plain && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$');
    for (char c : given)
        name += plain && c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    return name;
}

std::string choose_owner(const Options &options, const StepResult &found)
{
    if (!options.owner.empty()) {
        const std::string owner = name_as_engine_reads(options.owner);
        say("owner: " + user_in_sql(owner) + " (given with --owner)");
        return owner;
    }
    const auto owners = found.all("owner");
    const std::string owner = owners.empty() ? "SYSDBA" : owners[0][0];
    unsigned total = 0;
    for (const auto &o : owners)
        total += unsigned(std::atoi(o[1].c_str()));
    say("owner: " + owner + " (a backup does not say who owned the database: " + owner + " owns " +
        (owners.empty() ? "0" : owners[0][1]) + " of its " + std::to_string(total) +
        " tables, views, procedures, functions and packages; --owner NAME names another)");
    return owner;
}

int restore(const Options &options)
{
    if (options.arguments.size() < 2)
        throw Failure("restore takes BACKUP [VOLUME ...] DATABASE");
    const std::vector<std::string> backup = backup_volumes(options);
    Target target;
    open_target(target, options.arguments.back());
    if (target.dir->entry(target.name))
        throw Failure(target.path + " exists: give the name of a new file (this never replaces one)");
    const Layout layout = find_layout(options);
    Made made;
    // The engine may open databases in the run's own directory alone: a
    // link put in its place leads it nowhere else.
    Work work(target);
    RunRoot run;
    make_run_root(run, layout, work.dir->path());
    use_run_root(run.path);

    const StepResult found = read_metadata(layout, run, backup, work, made);
    for (const auto &u : found.all("udr_path")) {
        say("the backup declares " + u[0] + " on the external module " + u[1] + ", named by a path: the engine would "
            "load it from wherever that leads; this tool never lets the engine load what a backup names. Nothing was made.");
        throw Failure("nothing was made");
    }
    say("engine: " + found.first("engine"));
    const std::string owner = choose_owner(options, found);
    const std::vector<std::string> failed = restore_data(layout, run, backup, work, owner, found);

    // 4. Switch, indexes, check, and the catalogue's word on each.
    const auto file = work.dir->entry("database.fdb");
    if (!file || !file->regular || !file->owned)
        throw Failure("the restored database is not where the engine made it: nothing was made");
    std::vector<std::string> finish = {"finish", run.path, join(work.dir->path(), "database.fdb"), id_text(file->id), owner,
                                       found.first("read_only") == "1" ? "read-only" : "read-write"};
    finish.insert(finish.end(), failed.begin(), failed.end());
    const StepResult finished = run_child(step_arguments(layout, finish, run.unseen), nullptr);
    if (finished.status != exit_done && finished.status != exit_attention)
        throw Failure("the database could not be finished (above): nothing was made");
    const std::string database_owner = finished.first("database_owner");
    say("database owner: " + database_owner + (database_owner == owner ? "" : " (NOT " + owner + ")"));
    std::string users, create;
    for (const auto &u : found.all("user")) {
        users += (users.empty() ? "" : ", ") + u[0];
        create += (create.empty() ? "" : "; ") + ("CREATE USER " + user_in_sql(u[0]) + " PASSWORD '...'");
    }
    if (!users.empty())
        say("users this database names (owners, grants): " + users + ". A backup holds no users or passwords: "
            "create on the new server those it lacks, as SYSDBA: " + create);

    publish(target, work);
    const bool attention = finished.status == exit_attention || database_owner != owner;
    say("done: " + target.path + (attention ? ", with what is named above left for you" : ""));
    return attention ? exit_attention : exit_done;
}

} // namespace upgrade
