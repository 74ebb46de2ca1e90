/*
 * hold: loads the DLL it is given, as a running server loads a module, says
 * "held" and keeps it until its standard input ends or it is killed.  The
 * installer test's stand-in for a Firebird service using morvanfn.
 */
#include <windows.h>

#include <stdio.h>

int main(int argc, char **argv)
{
    HMODULE module;
    if (argc != 2) {
        fprintf(stderr, "usage: hold DLL\n");
        return 2;
    }
    module = LoadLibraryA(argv[1]);
    if (!module) {
        fprintf(stderr, "hold: cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    while (getchar() != EOF)
        ;
    FreeLibrary(module);
    return 0;
}
