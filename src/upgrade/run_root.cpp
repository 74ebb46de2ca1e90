// morvanfn-upgrade: the run's private engine root (tool.h).
//
// The engine runs embedded, from a directory of the run's own in the
// temporary directory: copies (or hard links) of the engine's files, and a
// firebird.conf that confines it.  The engine opens databases only in the
// one directory the run works in (DatabaseAccess), no external table file
// (ExternalFileAccess), no other server (Providers: the engine alone), and
// looks for UDF modules only in directories where nothing can be loaded;
// the UDR engine finds this library's module alone, a copy in the root.
#include "tool.h"

#include <cstring>

namespace upgrade {

namespace {

const char *const run_prefix = "morvanfn-upgrade-";

std::string configurable_or_fail(const std::string &path, const std::string &what)
{
    if (!configurable(path))
        throw Failure(what + " " + path + " holds a character Firebird's configuration cannot carry (; # $ = or a quote)");
    return path;
}

bool ends_with(const std::string &s, const char *end)
{
    const size_t n = std::strlen(end);
    return s.size() >= n && s.compare(s.size() - n, n, end) == 0;
}

// The run roots of runs that were killed: a live run holds the lock beside
// its root, taken before the root was made.  Only this user's directories
// of the run's own name pattern go; anything else is left alone, unsaid.
void remove_dead_run_roots(const Directory &temp)
{
    for (const std::string &n : temp.names()) {
        if (n.rfind(run_prefix, 0) != 0 || ends_with(n, ".lock"))
            continue;
        const auto e = temp.entry(n);
        if (!e || !e->directory || !e->owned || lock_held(temp, n + ".lock"))
            continue;
        if (temp.remove_own(n, e->id)) {
            temp.remove_own(n + ".lock");
            say("removed " + join(temp.path(), n) + ", left by an earlier run that was stopped");
        }
    }
}

} // namespace

bool configurable(const std::string &path)
{
    if (path.empty() || path.front() == ' ' || path.back() == ' ')
        return false;
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || std::strchr(";#$\"'=", c))
            return false;
    return true;
}

RunRoot::~RunRoot()
{
    if (temp && id)
        temp->remove_own(name_of(path), *id);
    lock.reset();
}

void make_run_root(RunRoot &run, const Layout &layout, const std::string &databases)
{
    const auto temp_dir = real_directory(temp_directory());
    if (!temp_dir)
        throw Failure("no temporary directory " + temp_directory());
    run.temp.emplace(*temp_dir);
    if (const auto why = run.temp->unsafe())
        throw Failure("the temporary directory " + *temp_dir + " is not safe for this run: " + *why +
                      " (name another with TMPDIR)");
    remove_dead_run_roots(*run.temp);
    const std::string name = run_prefix + unique_suffix();
    run.lock.emplace(*run.temp, name + ".lock");
    if (!run.lock->held)
        throw Failure("cannot lock " + join(*temp_dir, name) + ".lock");
    const Directory root = run.temp->make_private(name);
    run.id = root.id();
    run.path = configurable_or_fail(root.path(), "the temporary directory");
    for (const char *dir : {"lock", "tmp", "lib", "no-udf", "plugins", "udr"})
        make_directory(join(run.path, dir));
    // The engine's files, linked or copied: the engine runs from here.
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
        const bool wanted = ends_with(n, ".msg") || ends_with(n, ".dll") || ends_with(n, ".dat") ||
                            n.find(".so") != std::string::npos;
        if (wanted && is_file(f))
            mirror(f, join(run.path, n));
    }
    // This library's UDR module, alone where the UDR engine looks: a
    // declaration naming another module finds nothing to load.
    mirror(layout.udr, join(join(run.path, "udr"), name_of(layout.udr)));
#ifndef _WIN32
    // The engine wants Firebird's ib_util before it loads any UDF, and
    // looks for it in the root's lib/ among other places: this Firebird's own.
    for (const std::string &ib_util : {join(join(layout.root, "lib"), "libib_util.so"), join(layout.root, "libib_util.so"),
                                       join(directory_of(layout.client), "libib_util.so"),
                                       join(std::string("/usr/lib/") + MORVANFN_MULTIARCH, "libib_util.so")})
        if (is_file(ib_util) && !entry_exists(join(join(run.path, "lib"), "libib_util.so")))
            mirror(ib_util, join(join(run.path, "lib"), "libib_util.so"));
#endif
    // The directories the engine may look in for a UDF module, as
    // firebird.conf writes them: an empty one of the run's own (no UDF runs:
    // the UDR computes every key of the expression indexes on this library's
    // functions once, after the switch), the run's lib/ (Linux tries "lib" +
    // a path as a path relative to the root, and loads it relative to the
    // step's working directory, the run's root), and the directories a
    // backup names that hold nothing to load.
    run.udf_directories = {join(run.path, "no-udf"), join(run.path, "lib")};
    run.databases = databases;
    run.configure(layout);
}

void RunRoot::configure(const Layout &layout) const
{
    std::string dirs;
    for (const std::string &d : udf_directories)
        dirs += (dirs.empty() ? "" : ";") + configurable_or_fail(d, "the UDF directory");
    write_file(join(path, "firebird.conf"),
               "UdfAccess = Restrict " + dirs + "\nDatabaseAccess = Restrict " +
                   configurable_or_fail(databases, "the database's directory") +
                   "\nExternalFileAccess = None\nProviders = " + layout.provider + "\nTempDirectories = " +
                   join(path, "tmp") + "\n");
    write_file(join(path, "plugins.conf"), "Plugin = UDR {\n\tModule = $(dir_plugins)/udr_engine\n\tConfig = UDR_config\n}\n"
                                           "Config = UDR_config {\n\tpath = " +
                                               join(path, "udr") + "\n}\n");
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

} // namespace upgrade
