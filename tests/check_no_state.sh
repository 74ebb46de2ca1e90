#!/bin/sh
# The library's own code keeps no state: its objects have empty .data and .bss
# (constants live in .rodata).
# usage: check_no_state.sh "OBJECT;OBJECT..."
set -eu
fail=0
for object in $(echo "$1" | tr ';' ' '); do
    state=$(size -A "$object" | awk '$1 ~ /^\.(data|bss)/ && $2 > 0 {print $1 " " $2 " bytes"}')
    if [ -n "$state" ]; then
        echo "$(basename "$object") holds writable state: $state"; fail=1
    fi
done
[ $fail = 0 ] && echo "no writable data in the library's objects"
exit $fail
