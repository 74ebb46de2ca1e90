// morvanfn-upgrade: which Firebird a run uses (tool.h): its root, its
// client library, its engine plugin, and this library's UDR module.  The
// engine's code is loaded from there as root: a root, lib/ or plugins/ that
// anyone else may write to is refused, as a UDF directory would be.
#include "tool.h"

namespace upgrade {

namespace {

#ifdef _WIN32
std::string engine_file(const std::string &engine)
{
    return "engine" + engine.substr(6) + ".dll";
}
const char *const engine_files = "engine14.dll, engine13.dll or engine12.dll";
#else
std::string engine_file(const std::string &engine)
{
    return "lib" + engine + ".so";
}
const char *const engine_files = "libEngine14.so, libEngine13.so or libEngine12.so";
#endif

// The client library: an official build keeps it in lib/, PyPI's beside
// the rest, Debian's in the system's library directory.
std::string client_library(const std::string &root)
{
#ifdef _WIN32
    return join(root, "fbclient.dll");
#else
    for (const char *c : {"lib/libfbclient.so.2", "lib/libfbclient.so", "libfbclient.so.2", "libfbclient.so"})
        if (is_file(join(root, c)))
            return join(root, c);
    return "libfbclient.so.2";
#endif
}

} // namespace

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
    for (const char *dir : {"", "lib", "plugins"})
        if (const auto why = unsafe_code_directory(*dir ? join(l.root, dir) : l.root))
            throw Failure("the Firebird at " + l.root + " is not safe to load as this user: " + *why +
                          " (its code would run here)");
    for (const char *engine : {"Engine14", "Engine13", "Engine12"})
        if (is_file(join(join(l.root, "plugins"), engine_file(engine)))) {
            l.provider = engine;
            break;
        }
    if (l.provider.empty())
        throw Failure(l.root + " holds no Firebird 3, 4, 5 or 6 engine (plugins/" + engine_files +
                      "): name Firebird's root with --firebird DIR");
    l.client = client_library(l.root);
    // Named files as absolute paths: the steps run elsewhere.
    if (options.udr.empty()) {
        l.udr = join(join(join(l.root, "plugins"), "udr"), MORVANFN_UDR_NAME);
    } else {
        const auto dir = real_directory(directory_of(options.udr));
        l.udr = dir ? join(*dir, name_of(options.udr)) : options.udr;
    }
    if (!is_file(l.udr))
        throw Failure("no UDR module at " + l.udr + " (install this package for that Firebird, or name it with --udr FILE)");
    if (const auto why = unsafe_code_directory(directory_of(l.udr)))
        throw Failure("the UDR module " + l.udr + " is not safe to load as this user: " + *why);
    return l;
}

bool firebird6_or_later(const std::string &provider)
{
    return provider != "Engine12" && provider != "Engine13";
}

bool remote(const std::string &database)
{
    if (database.find("://") != std::string::npos)
        return true;
    const size_t colon = database.find(':');
    return colon != std::string::npos && colon > 1 && database.find_first_of("/\\") > colon;
}

} // namespace upgrade
