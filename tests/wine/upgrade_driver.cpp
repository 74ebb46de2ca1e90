// morvanfn-upgrade as the tests run it under wine: the very program, with
// Firebird's Windows engine made to run there (reroute.c) as soon as the
// tool has loaded its client library, in each of its steps.
#include "upgrade.h"

#include "reroute.h"

namespace {
void under_wine(void *client, const char *root)
{
    wine_reroute(static_cast<HMODULE>(client), root);
}
} // namespace

int main(int argc, char **argv)
{
    upgrade::Hooks hooks;
    hooks.client_loaded = under_wine;
    return upgrade::main(argc, argv, hooks);
}
