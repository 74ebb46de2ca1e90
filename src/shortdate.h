/* The short date text, apart from the clock, so that it can be tested with
 * any date.  Internal to the module: not exported. */
#ifndef MORVANFN_SHORTDATE_H
#define MORVANFN_SHORTDATE_H

#include "morvanfn.h"

extern "C" fn_result *fn_format_shortdate(fn_result *result, unsigned year, unsigned month, unsigned day);

#endif
