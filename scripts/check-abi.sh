#!/usr/bin/env bash
# Compares a built libpixmora.so.0 with the interface kept in the tree
# (abi/libpixmora.so.0.abi) through libabigail's abidiff. Added functions and
# variables pass; a removed function or variable, or a changed one (a
# parameter, a return type, the layout of pm_state or of a record a function
# takes), fails with abidiff's report.
#
#   scripts/check-abi.sh LIBRARY            compare
#   scripts/check-abi.sh --update LIBRARY   write LIBRARY's interface as the new baseline
#
# LIBRARY must carry its debug information (make package leaves such a copy
# in build-package/unstripped). Only what the public headers declare counts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
baseline="$root/abi/libpixmora.so.0.abi"
update=no
if [ "${1:-}" = --update ]; then
    update=yes
    shift
fi
if [ $# -ne 1 ]; then
    echo "usage: scripts/check-abi.sh [--update] LIBRARY" >&2
    exit 2
fi
library=$1
for tool in abidw abidiff; do
    command -v "$tool" >/dev/null || { echo "$tool is missing; scripts/setup-deps.sh --package installs it" >&2; exit 1; }
done

# The interface as the public headers declare it, without the paths of this
# machine.
headers=(--headers-dir "$root/include/pixmora" --drop-private-types --exported-interfaces-only)
if [ "$update" = yes ]; then
    mkdir -p "$(dirname "$baseline")"
    abidw "${headers[@]}" --no-corpus-path --no-comp-dir-path --short-locs --out-file "$baseline" "$library"
    echo "check-abi: wrote $baseline from $library"
    exit 0
fi
[ -f "$baseline" ] || { echo "check-abi: no baseline $baseline" >&2; exit 1; }

set +e
report=$(abidiff --headers-dir2 "$root/include/pixmora" --drop-private-types --exported-interfaces-only "$baseline" "$library" 2>&1)
status=$?
set -e
# abidiff's exit status is a set of bits: 1 an error, 2 a usage error, 4 a
# change of any kind (additions too), 8 a change known to break users (such
# as a removed symbol). Removed and changed functions and variables show in
# its summary lines.
incompatible=$(( status & 11 ))
if [ "$incompatible" -eq 0 ] && ! grep -Eq '(^|[^0-9])[1-9][0-9]* (Removed|Changed)' <<<"$report"; then
    if [ $(( status & 4 )) -ne 0 ]; then
        echo "check-abi: $library only adds to the interface of abi/libpixmora.so.0.abi:"
        grep -E 'changes summary' <<<"$report" | sed 's/^/  /'
    else
        echo "check-abi: $library has the interface of abi/libpixmora.so.0.abi"
    fi
    exit 0
fi
echo "FAIL: $library breaks the interface of abi/libpixmora.so.0.abi (abidiff status $status):" >&2
sed 's/^/  /' <<<"$report" >&2
echo "If the change is meant, write the new baseline with scripts/check-abi.sh --update LIBRARY (see README)." >&2
exit 1
