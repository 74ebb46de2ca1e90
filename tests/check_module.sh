#!/bin/sh
# The module's outside: exactly the six entry points exported, only the C
# runtime needed, and no allocation function imported.
# usage: check_module.sh path/to/morvanfn.so
set -eu
module=$1
fail=0

exported=$(nm -D --defined-only "$module" | awk '{print $3}' | sort | tr '\n' ' ')
want="_fn_curryr _fn_fullcat _fn_pad _fn_shortdate _fn_strcat _fn_strlen "
if [ "$exported" != "$want" ]; then
    echo "exports: got [$exported], want [$want]"; fail=1
fi

needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
if [ "$needed" != "libc.so.6 " ]; then
    echo "NEEDED: got [$needed], want [libc.so.6 ]"; fail=1
fi

alloc=$(nm -D --undefined-only "$module" | awk '{print $2}' | sed 's/@.*//' |
    grep -E '^(malloc|calloc|realloc|reallocarray|free|aligned_alloc|posix_memalign|memalign|valloc|strdup|strndup|_Znwm|_Znam|_ZdlPv|_ZdaPv|_Zn.*|_Zd.*)$' || true)
if [ -n "$alloc" ]; then
    echo "imports allocation functions: $alloc"; fail=1
fi

[ $fail = 0 ] && echo "exports, NEEDED and imports as they should be"
exit $fail
