/* A library a hostile backup names by its path: loading it is enough to run
 * its code, which leaves a mark where MORVANFN_EVIL_MARK says.  Tests only. */
#include <stdio.h>
#include <stdlib.h>

__attribute__((constructor)) static void ran(void)
{
    const char *mark = getenv("MORVANFN_EVIL_MARK");
    FILE *f = mark ? fopen(mark, "a") : NULL;
    if (f) {
        fputs("a library named by a backup ran\n", f);
        fclose(f);
    }
}

int evil_len(const char *s)
{
    int n = 0;
    while (s[n])
        ++n;
    return n;
}
