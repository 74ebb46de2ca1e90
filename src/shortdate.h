/* The date functions apart from the clock, so that they can be tested with
 * any date and any clock.  Internal to the module: not exported. */
#ifndef MORVANFN_SHORTDATE_H
#define MORVANFN_SHORTDATE_H

#include "morvanfn.h"

#include <time.h>

/* A local calendar date; 0-0-0 where the clock gives none. */
struct fn_date {
    unsigned year, month, day;
};

extern "C" fn_result *fn_format_shortdate(fn_result *result, fn_date date);

#ifndef _WIN32
/* The local date at the instant now: what the date functions read. */
extern "C" fn_date fn_local_date(time_t now);
#endif

#endif
