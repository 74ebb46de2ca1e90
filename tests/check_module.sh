#!/bin/sh
# A module's outside: exactly the given exports, exactly the given NEEDED
# libraries, and no allocation or locking function imported unless
# ALLOC=allowed.
# usage: check_module.sh MODULE "EXPORT..." "NEEDED..." [ALLOC]
set -eu
module=$1 want_exports=$2 want_needed=$3 alloc_rule=${4:-none}
fail=0

sorted() { tr ' ' '\n' | grep -v '^$' | sort | tr '\n' ' '; }

exported=$(nm -D --defined-only "$module" | awk '{print $3}' | sorted)
if [ "$exported" != "$(echo "$want_exports" | sorted)" ]; then
    echo "exports: got [$exported], want [$want_exports]"; fail=1
fi

needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sorted)
if [ "$needed" != "$(echo "$want_needed" | sorted)" ]; then
    echo "NEEDED: got [$needed], want [$want_needed]"; fail=1
fi

if [ "$alloc_rule" = none ]; then
    alloc=$(nm -D --undefined-only "$module" | awk '{print $2}' | sed 's/@.*//' |
        grep -E '^(malloc|calloc|realloc|reallocarray|free|aligned_alloc|posix_memalign|memalign|valloc|strdup|strndup|_Znw.*|_Zna.*|_Zdl.*|_Zda.*)$' || true)
    if [ -n "$alloc" ]; then
        echo "imports allocation functions:" $alloc; fail=1
    fi
    locks=$(nm -D --undefined-only "$module" | awk '{print $2}' | sed 's/@.*//' |
        grep -E '^(pthread_|mtx_|cnd_|sem_|__libc_lock)' || true)
    if [ -n "$locks" ]; then
        echo "imports locking functions:" $locks; fail=1
    fi
fi

[ $fail = 0 ] && echo "$module: exports, NEEDED and imports as they should be"
exit $fail
