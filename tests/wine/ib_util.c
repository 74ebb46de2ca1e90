/*
 * ib_util.dll for the tests.  The Windows engine loads it before it loads
 * any UDF, and hands it the allocator that UDFs returning FREE_IT results
 * use; the engine in PyPI's firebird-embedded comes without it.  morvanfn
 * allocates nothing, so these two calls are all that is asked of it.
 */
#include <stdlib.h>

static void *(*allocate)(long);

__declspec(dllexport) void ib_util_init(void *(*allocator)(long))
{
    allocate = allocator;
}

__declspec(dllexport) void *ib_util_malloc(long size)
{
    return allocate ? allocate(size) : malloc((size_t)size);
}
