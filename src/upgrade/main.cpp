// morvanfn-upgrade: see upgrade.h.
#include "upgrade.h"

int main(int argc, char **argv)
{
    return upgrade::main(argc, argv);
}
