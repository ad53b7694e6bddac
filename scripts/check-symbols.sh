#!/usr/bin/env bash
# Checks that a built library exports nothing but its C interface (pm_
# functions and pm_state) and C++ names inside the pm namespace, so that a
# program linking it meets no name of ours it could clash with. Weak copies
# of the standard library's templates, which every C++ object may carry, are
# allowed. Also checks that it defines none of the software display's test
# instrumentation, and that the files built for one instruction set share no
# function with the rest.
#
#   scripts/check-symbols.sh LIBRARY...
set -euo pipefail

status=0
for library in "$@"; do
    strays=$(nm --defined-only --extern-only "$library" 2>/dev/null | awk 'NF == 3 { print $2, $3 }' |
        while read -r kind name; do
            case "$name" in
            pm_*) continue ;;
            _Z*) ;;
            *) case "$kind" in [VWu]) continue ;; esac
               echo "$name"; continue ;;
            esac
            plain=$(echo "$name" | c++filt)
            plain=${plain#guard variable for }
            plain=${plain#vtable for }
            plain=${plain#typeinfo name for }
            plain=${plain#typeinfo for }
            case "$plain" in
            pm::*) continue ;;
            esac
            # A weak instantiation of a standard template, whatever it returns.
            if [[ "$kind" == [VWu] && "$plain" =~ ^([A-Za-z_:<>\ ]+\ )?std:: ]]; then
                continue
            fi
            echo "$plain"
        done | sort -u)
    if [ -n "$strays" ]; then
        echo "FAIL: $library exports names outside pm:: and the C interface:"
        echo "$strays" | sed 's/^/  /'
        status=1
    else
        echo "$library: exports only pm_ names and pm::"
    fi
    # The call record and the injected failures belong to the test build of
    # the software display (platform/soft/testing) alone: the library defines
    # none of them, not even as a local name.
    hooks=$({ nm --defined-only "$library" 2>/dev/null; nm -D --defined-only "$library" 2>/dev/null; } |
        awk 'NF == 3 { print $3 }' | c++filt |
        grep -E '^pm::soft::((calls|clear_calls|fail_next_[a-z_]+|provide_libraries|refuse_unnamed_files|fix_next_file_names|spoil_next_carry_over)\(|call_list<|call_record|.*test_hooks)' |
        sort -u || true)
    if [ -n "$hooks" ]; then
        echo "FAIL: $library defines test instrumentation:"
        echo "$hooks" | sed 's/^/  /'
        status=1
    fi
    # A kernel file is compiled for one instruction set (..._avx2.cpp and so
    # on): a weak function in it, such as an inline function of a header,
    # could be the copy the linker keeps for every other file too.
    shared=$(nm -A --defined-only "$library" 2>/dev/null |
        awk '$1 ~ /_(sse2|ssse3|avx2|simd128)\.cpp\.o(bj)?:/ && $2 == "W" { print $3 }' | c++filt | sort -u)
    if [ -n "$shared" ]; then
        echo "FAIL: $library: kernel files define weak functions, which other files may end up calling:"
        echo "$shared" | sed 's/^/  /'
        status=1
    fi
done
exit "$status"
