/* reroute.c: Firebird's Windows engine made to run under wine (tests only). */
#ifndef MORVANFN_WINE_REROUTE_H
#define MORVANFN_WINE_REROUTE_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Loads root's plugins\engine13.dll (or engine12.dll) and points the
 * imports of it and of client that wine lacks elsewhere; 0 if it cannot. */
int wine_reroute(HMODULE client, const char *root);

#ifdef __cplusplus
}
#endif

#endif
