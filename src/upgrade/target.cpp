// morvanfn-upgrade: a target database's directory (tool.h).
//
// The directory is opened once and held: the lock, the leftovers of earlier
// runs, the run's work directory and the finished database's name are all
// made, checked and removed relative to that handle.  Whoever may write the
// directory (the server's account owns a data directory) can rename or
// replace any entry in it at any moment; the run touches only entries it
// made, checked by identity, and never follows a link.
#include "tool.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace upgrade {

std::string Target::prefix() const
{
    std::string p = ".";
    for (char c : name) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (std::isalnum(b) || b >= 0x80 || std::strchr(" .+,@-", c)) {
            p += c;
        } else {
            char e[8];
            std::snprintf(e, sizeof e, "_%02x", b);
            p += e;
        }
    }
    return p + ".morvanfn-";
}

bool run_made(const Target &target, const std::string &name)
{
    const std::string p = target.prefix();
    if (name.rfind(p, 0) != 0)
        return false;
    // PID-HEX, then nothing, .fdb, .meta.fdb or .d
    size_t i = p.size();
    const size_t digits = i;
    while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])))
        ++i;
    if (i == digits || i >= name.size() || name[i] != '-')
        return false;
    const size_t hex = ++i;
    while (i < name.size() && std::isxdigit(static_cast<unsigned char>(name[i])))
        ++i;
    if (i == hex)
        return false;
    const std::string rest = name.substr(i);
    return rest.empty() || rest == ".fdb" || rest == ".meta.fdb" || rest == ".d";
}

void open_target(Target &t, const std::string &database)
{
    t.name = name_of(database);
    if (t.name.empty() || t.name == "." || t.name == "..")
        throw Failure("'" + database + "' names no file");
    const auto dir = real_directory(directory_of(database));
    if (!dir)
        throw Failure("no directory " + directory_of(database) + " for " + database);
    t.dir.emplace(*dir);
    t.path = join(*dir, t.name);
    t.lock.emplace(*t.dir, t.prefix() + "lock");
    if (!t.lock->held)
        throw Failure("another morvanfn-upgrade run is working on " + t.path + " (" + t.lock->path() +
                      " is held): nothing was done");
    // Under the lock no other run on this name is alive: what its runs left
    // is from a run that was stopped.
    for (const std::string &n : t.dir->names())
        if (run_made(t, n) && t.dir->remove_own(n))
            say("removed " + join(*dir, n) + ", left by an earlier run that was stopped");
}

} // namespace upgrade
