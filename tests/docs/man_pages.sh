#!/bin/sh
# Checks the manual pages: groff formats them without a warning, lexgrog
# finds their NAME line, and their footer names the project's version.
#
#   tests/docs/man_pages.sh VERSION PAGE...
#
# Exits 77 (skipped) when groff or lexgrog is missing.
version=$1
shift
command -v groff >/dev/null 2>&1 && command -v lexgrog >/dev/null 2>&1 || {
    echo "groff or lexgrog is not installed"
    exit 77
}
failed=0
for page in "$@"; do
    warnings=$(groff -man -ww -z "$page" 2>&1)
    if [ -n "$warnings" ]; then
        echo "$page: groff warns: $warnings"
        failed=1
    fi
    lexgrog "$page" >/dev/null || {
        echo "$page: lexgrog finds no NAME line"
        failed=1
    }
    grep -q "^\.TH .* \"Pixmora $version\" " "$page" || {
        echo "$page: the .TH line does not name Pixmora $version"
        failed=1
    }
done
exit $failed
