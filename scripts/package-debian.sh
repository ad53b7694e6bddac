#!/usr/bin/env bash
# Builds the Debian packages (libpixmora0, libpixmora-dev, pixmora-tools,
# scaling-and-scrolling, python3-pixmora) with dpkg-buildpackage from debian/, and leaves the
# .deb files with their .changes and .buildinfo in PACKAGE_BUILD/debs, and
# the shared library unstripped in PACKAGE_BUILD/unstripped.
#
#   scripts/package-debian.sh
#
# dpkg-buildpackage writes into the folder above the tree it builds, so it
# builds a copy of the tree in PACKAGE_BUILD/source: nothing is written
# outside PACKAGE_BUILD (build-package). The copy holds the files git knows
# of, as they are in the work tree, and the untracked ones it does not
# ignore; outside a git work tree, everything but the build folders.
# JOBS: parallel jobs (2).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${PACKAGE_BUILD:-build-package}
jobs=${JOBS:-2}

for tool in dpkg-buildpackage dpkg-parsechangelog dh; do
    command -v "$tool" >/dev/null || { echo "$tool is missing; scripts/setup-deps.sh --package installs it" >&2; exit 1; }
done
name=$(dpkg-parsechangelog -S Source)
version=$(dpkg-parsechangelog -S Version)
source_dir="$out/source"
tree="$source_dir/$name-$version"
rm -rf "$source_dir" "$out/debs"
mkdir -p "$tree" "$out/debs"

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do
            # Not what is deleted in the work tree but not yet in the index.
            if [ -e "$file" ] || [ -L "$file" ]; then
                printf '%s\0' "$file"
            fi
        done |
        tar --null --no-recursion -T - -cf - | tar -xf - -C "$tree"
else
    tar --exclude='./build*' --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$tree"
fi

# The debug symbols stay out: the packages are the five named in debian/control.
(cd "$tree" && DEB_BUILD_OPTIONS="parallel=$jobs noautodbgsym ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -us -uc -b)

mv "$source_dir"/*.deb "$source_dir"/*.changes "$source_dir"/*.buildinfo "$out/debs/"
# The shared library as built, before the packages stripped it: its debug
# information describes the interface for the ABI check (scripts/check-abi.sh).
mkdir -p "$out/unstripped"
cp "$(ls "$tree"/obj-*/libpixmora.so.0.* | head -n 1)" "$out/unstripped/libpixmora.so.0"
echo "Debian packages in $out/debs:"
(cd "$out/debs" && ls -1 ./*.deb | sed 's|^\./|  |')
