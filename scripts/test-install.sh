#!/usr/bin/env bash
# Checks Pixmora as its users get it. Installs the static build into a
# temporary prefix, and unpacks the Debian packages (the shared library, its
# development files, the converter and the demo) into a temporary root with
# dpkg-deb, so that nothing is installed on the machine. Builds the examples
# against each copy through find_package and through pkg-config, runs them
# and checks their pictures against netpbm's own decoding; builds the
# examples with Pixmora as a subproject. Checks the packages with lintian
# (no error and no warning), their desktop entry with desktop-file-validate,
# their AppStream file with appstreamcli, and that every program installed
# has a manual page.
#
#   scripts/test-install.sh STATIC_BUILD DEBS
#
# STATIC_BUILD must be built; DEBS is the folder holding the .deb files and
# their .changes (make package leaves them in build-package/debs).
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: scripts/test-install.sh STATIC_BUILD DEBS" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
static_build=$(cd "$1" && pwd)
debs=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/pixmora-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
jobs=${JOBS:-2}
failures=0
for tool in lintian desktop-file-validate appstreamcli dpkg-deb dpkg-architecture pcxtoppm; do
    command -v "$tool" >/dev/null || { echo "$tool is missing; scripts/setup-deps.sh --test --package installs it" >&2; exit 1; }
done

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Whether file $1 exists (a link counts) under $2.
expect_file() {
    [ -e "$2/$1" ] || [ -L "$2/$1" ] || fail "$2 lacks $1"
}

# The demo's own directory below prefix $1, where bin/scaling-and-scrolling
# leads: libexec/pixmora, or lib/pixmora in the Debian packages, whose
# libexec holds programs alone.
demo_dir() {
    dirname "$(readlink -f "$1/bin/scaling-and-scrolling")"
}

# The one directory below prefix $1 that holds pixmora.pc.
pc_dir() {
    dirname "$(find "$1" -name pixmora.pc | head -n 1)"
}

# What every install holds, under the prefix and under the library folder.
installed_files=(include/pixmora/pixmora.h include/pixmora/pixmora_soft.h include/pixmora/export.h
    include/pixmora/version.h bin/pixmora-convert bin/scaling-and-scrolling
    share/applications/org.pixmora.scaling_and_scrolling.desktop
    share/metainfo/org.pixmora.scaling_and_scrolling.metainfo.xml
    share/icons/hicolor/scalable/apps/org.pixmora.scaling_and_scrolling.svg)
installed_lib_files=(cmake/Pixmora/PixmoraConfig.cmake cmake/Pixmora/PixmoraConfigVersion.cmake
    cmake/Pixmora/PixmoraTargets.cmake pkgconfig/pixmora.pc)

check_install() {
    local prefix=$1 kind=$2
    local libdir
    libdir=$(dirname "$(pc_dir "$prefix")")
    for f in "${installed_files[@]}"; do
        expect_file "$f" "$prefix"
    done
    for f in "${installed_lib_files[@]}"; do
        expect_file "$f" "$libdir"
    done
    # The manual pages, compressed in the packages.
    for page in man1/pixmora-convert.1 man6/scaling-and-scrolling.6; do
        ls "$prefix/share/man/$page"* >/dev/null 2>&1 || fail "$prefix lacks share/man/$page"
    done
    # The demo finds its pictures beside the real program, through the link.
    local demo
    demo=$(demo_dir "$prefix")
    case "$demo" in
    "$(readlink -f "$prefix")"/libexec/pixmora | "$(readlink -f "$prefix")"/lib/pixmora) ;;
    *) fail "$prefix/bin/scaling-and-scrolling leads to $demo, not a folder of the demo's own" ;;
    esac
    for f in scaling-and-scrolling Sky.pcx Logo1.pcx Logo2.pcx; do
        expect_file "$f" "$demo"
    done
    # Started through the link, with SDL2's window-less video driver, the demo
    # finds its pictures; it runs until stopped. The unpacked packages' programs
    # find libpixmora.so.0 in their own root, as the system's loader would.
    local demo_log="$work/demo-$kind.log"
    LD_LIBRARY_PATH="$libdir" SDL_VIDEODRIVER=dummy timeout 2 "$prefix/bin/scaling-and-scrolling" 2>"$demo_log" || true
    [ ! -s "$demo_log" ] || fail "the installed demo complains: $(head -c 300 "$demo_log")"
    # The installed converter decodes as netpbm does.
    LD_LIBRARY_PATH="$libdir" "$prefix/bin/pixmora-convert" "$demo/Logo1.pcx" "$work/convert-$kind.ppm" &&
        cmp -s "$work/convert-$kind.ppm" <(pcxtoppm "$demo/Logo1.pcx") ||
        fail "the installed pixmora-convert does not write what pcxtoppm does"
    # The header, the CMake package and pkg-config agree on the version.
    local header_version package_version pc_version
    header_version=$(awk '/#define PIXMORA_VERSION_(MAJOR|MINOR|PATCH)/ { printf "%s%s", sep, $3; sep = "." }' \
        "$prefix/include/pixmora/version.h")
    package_version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$libdir/cmake/Pixmora/PixmoraConfigVersion.cmake")
    pc_version=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --modversion pixmora)
    [ "$header_version" = "$package_version" ] && [ "$header_version" = "$pc_version" ] ||
        fail "versions differ: version.h $header_version, CMake $package_version, pkg-config $pc_version"
    # The CMake package answers a request for its own minor version, and while
    # the major version is 0 for no other (a 0.2 may change what a 0.1 had).
    local major minor request
    IFS=. read -r major minor _ <<<"$header_version"
    package_takes "$libdir" "$major.$minor" || fail "the CMake package refuses a request for $major.$minor"
    for request in "$major.$((minor + 1))" $([ "$major" = 0 ] && [ "$minor" -gt 0 ] && echo "0.$((minor - 1))"); do
        ! package_takes "$libdir" "$request" || fail "the CMake package $header_version takes a request for $request"
    done
    if [ "$kind" = static ]; then
        expect_file libpixmora.a "$libdir"
        expect_file share/doc/pixmora/LICENSE "$prefix"
        return
    fi
    local so="$libdir/libpixmora.so.0"
    expect_file libpixmora.so "$libdir"
    expect_file libpixmora.so.0 "$libdir"
    expect_file "libpixmora.so.$header_version" "$libdir"
    [[ "$(readelf -d "$so")" == *"Library soname: [libpixmora.so.0]"* ]] || fail "libpixmora.so.0 has no SONAME libpixmora.so.0"
    local exported others
    exported=$(nm -D --defined-only "$so" | awk '{print $3}')
    others=$(echo "$exported" | grep -v '^pm_' || true)
    [ -z "$others" ] || fail "libpixmora.so exports more than pm_ symbols: $(echo $others | head -c 300)"
    grep -qx pm_state <<<"$exported" || fail "libpixmora.so does not export pm_state"
    # Every function the installed headers declare is exported.
    local declared
    declared=$(grep -ho '\bpm_[a-z0-9_]*(' "$prefix"/include/pixmora/*.h | tr -d '(' | sort -u)
    for name in $declared; do
        grep -qx "$name" <<<"$exported" || fail "libpixmora.so does not export $name"
    done
}

# Whether the CMake package under library folder $1 answers find_package's
# request for version $2 (major.minor).
package_takes() {
    cat >"$work/version-request.cmake" <<'EOF_CMAKE'
string(REPLACE "." ";" parts "${PACKAGE_FIND_VERSION}")
list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
list(GET parts 1 PACKAGE_FIND_VERSION_MINOR)
set(PACKAGE_FIND_VERSION_PATCH 0)
set(PACKAGE_FIND_VERSION_COUNT 2)
include("${VERSION_FILE}")
if(NOT PACKAGE_VERSION_COMPATIBLE)
  message(FATAL_ERROR "not taken")
endif()
EOF_CMAKE
    cmake -DPACKAGE_FIND_VERSION="$2" -DVERSION_FILE="$1/cmake/Pixmora/PixmoraConfigVersion.cmake" \
        -P "$work/version-request.cmake" >/dev/null 2>&1
}

# Whether every pixel (x, y) of picture $2 is one of the pixels of the f x f
# block of picture $1 whose top-left pixel is (f x, f y); says which is not.
block_check() {
    { pnmtoplainpnm "$1"; echo SMALL; pnmtoplainpnm "$2"; } | awk -v f="$3" -v part=0 '
        $1 == "SMALL" { part = 1; next }
        {
            for (i = 1; i <= NF; i++) {
                if ($i == "P3") { k = 0; continue }
                k++
                if (k == 1) w[part] = $i; else if (k == 2) h[part] = $i; else if (k > 3) v[part, k - 4] = $i
            }
        }
        END {
            if (w[1] * f != w[0] || h[1] * f != h[0]) { print "sizes " w[0] "x" h[0] " and " w[1] "x" h[1]; exit 1 }
            for (y = 0; y < h[1]; y++) for (x = 0; x < w[1]; x++) {
                s = (y * w[1] + x) * 3; found = 0
                for (dy = 0; dy < f && !found; dy++) for (dx = 0; dx < f && !found; dx++) {
                    b = ((y * f + dy) * w[0] + x * f + dx) * 3
                    found = v[0, b] == v[1, s] && v[0, b + 1] == v[1, s + 1] && v[0, b + 2] == v[1, s + 2]
                }
                if (!found) { print "first stray pixel (" x ", " y ")"; exit 1 }
            }
        }' >&2
}

# Runs the four examples in directory $1 (their link named by $2) on the
# demo's pictures from prefix $3 and checks what they write.
run_examples() {
    local bin=$1 how=$2 prefix=$3
    local out="$work/out-$how"
    local pictures
    pictures=$(demo_dir "$prefix")
    mkdir -p "$out"
    pcxtoppm "$pictures/Logo1.pcx" >"$out/logo.ppm"
    pcxtoppm "$pictures/Sky.pcx" >"$out/sky.ppm"
    pamenlarge 2 "$out/logo.ppm" >"$out/logo-x2.ppm"
    local width height
    width=$(sed -n 2p "$out/logo.ppm" | cut -d' ' -f1)
    height=$(sed -n 2p "$out/logo.ppm" | cut -d' ' -f2)

    "$bin/present" "$pictures/Sky.pcx" "$out/sky-same.ppm" 640 200 &&
        cmp -s "$out/sky-same.ppm" "$out/sky.ppm" || fail "$how: present at the picture's size differs from pcxtoppm"
    "$bin/present" "$pictures/Logo1.pcx" "$out/logo-x2-ours.ppm" $((2 * width)) $((2 * height)) &&
        cmp -s "$out/logo-x2-ours.ppm" "$out/logo-x2.ppm" || fail "$how: present at twice the size differs from pamenlarge 2"

    # The logo has few colours, so the 8-bit route keeps every one of them.
    "$bin/thumbnail" "$pictures/Logo1.pcx" "$out/thumb-same.ppm" "$width" &&
        cmp -s "$out/thumb-same.ppm" "$out/logo.ppm" || fail "$how: thumbnail at the picture's size differs from pcxtoppm"
    "$bin/thumbnail" "$pictures/Logo1.pcx" "$out/thumb-half.ppm" $((width / 2)) &&
        block_check "$out/logo.ppm" "$out/thumb-half.ppm" 2 ||
        fail "$how: thumbnail at half size takes pixels from outside their 2 x 2 blocks"
    # A picture whose first byte is wrong is refused, with the reason.
    { printf '\013'; tail -c +2 "$pictures/Logo1.pcx"; } >"$out/bad-first-byte.pcx"
    if "$bin/thumbnail" "$out/bad-first-byte.pcx" "$out/none.ppm" 2>"$out/refusal.txt" ||
        ! grep -q "bad-first-byte.pcx: ." "$out/refusal.txt"; then
        fail "$how: thumbnail does not refuse a picture with a wrong first byte"
    fi

    "$bin/palette_effect" "$out/sunset.pcx" 16 || fail "$how: palette_effect failed"
    local size colours
    size=$(pcxtoppm "$out/sunset.pcx" | sed -n 2p)
    colours=$(pcxtoppm "$out/sunset.pcx" | ppmhist -noheader | wc -l)
    [ "$size" = "256 64" ] && [ "$colours" -eq 16 ] ||
        fail "$how: palette_effect wrote $size with $colours colours, not 256 64 with 16"

    # The codec decodes with no buffer the pixels pcxtoppm shows, and
    # encodes them again in the smallest layout that holds them: 256
    # colours for the demo's pictures, 4 bits a pixel for the sunset's 16.
    local picture
    for picture in "$pictures/Logo1.pcx" "$pictures/Sky.pcx" "$out/sunset.pcx"; do
        local name
        name=$(basename "$picture" .pcx)
        "$bin/recode" "$picture" "$out/$name-recoded.ppm" "$out/$name-recoded.pcx" ||
            fail "$how: recode failed on $name.pcx"
        pcxtoppm "$picture" >"$out/$name-expected.ppm"
        cmp -s "$out/$name-recoded.ppm" "$out/$name-expected.ppm" ||
            fail "$how: recode decodes $name.pcx otherwise than pcxtoppm"
        pcxtoppm "$out/$name-recoded.pcx" | cmp -s - "$out/$name-expected.ppm" ||
            fail "$how: the PCX file recode writes of $name.pcx shows other pixels"
    done
    [ "$(od -An -tu1 -j3 -N1 "$out/sunset-recoded.pcx" | tr -d ' ')" = 4 ] ||
        fail "$how: recode did not write the sunset's 16 colours in 4 bits a pixel"
    echo "  $how: examples checked"
}

# Builds the examples with CMake, Pixmora found in prefix $1.
examples_by_cmake() {
    local prefix=$1 dir=$2
    cmake -S "$root/examples" -B "$dir" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_C_FLAGS=-Werror >"$dir.log" 2>&1 &&
        cmake --build "$dir" -j"$jobs" >>"$dir.log" 2>&1 || { cat "$dir.log" >&2; return 1; }
}

# Builds the examples with the compiler alone, flags from pkg-config, which
# names what a static link needs too.
examples_by_pkg_config() {
    local prefix=$1 dir=$2 kind=$3
    mkdir -p "$dir"
    local -x PKG_CONFIG_PATH
    PKG_CONFIG_PATH=$(pc_dir "$prefix")
    for example in thumbnail present palette_effect recode; do
        # shellcheck disable=SC2046
        cc -std=c11 -Wall -Wextra -Wpedantic -Werror $(pkg-config --cflags pixmora) \
            "$root/examples/$example.c" -o "$dir/$example" $(pkg-config --libs pixmora) || return 1
    done
    # A static link names the C++ runtime; the shared library brings its own.
    if [ "$kind" = static ]; then
        [[ "$(pkg-config --libs --static pixmora)" == *-lstdc++* ]] || { echo "Libs.private lacks -lstdc++" >&2; return 1; }
    else
        [[ "$(pkg-config --libs --static pixmora)" != *-lstdc++* ]] || { echo "the shared library's pixmora.pc names the C++ runtime" >&2; return 1; }
    fi
}

# Installs or unpacks nothing; checks the copy under prefix $1 (static or
# shared, $2), builds the examples against it both ways and runs them.
check_copy() {
    local prefix=$1 kind=$2
    local libdir
    libdir=$(dirname "$(pc_dir "$prefix")")
    check_install "$prefix" "$kind"
    examples_by_cmake "$prefix" "$work/cmake-$kind" || fail "$kind: the examples do not build with find_package"
    examples_by_pkg_config "$prefix" "$work/pkgconfig-$kind" "$kind" ||
        fail "$kind: the examples do not build with pkg-config"
    for how in cmake pkgconfig; do
        bin="$work/$how-$kind"
        [ -x "$bin/present" ] || continue
        needs=$(readelf -d "$bin/present" | grep -c 'NEEDED.*libpixmora' || true)
        if [ "$kind" = static ] && [ "$needs" -ne 0 ]; then
            fail "$how-$kind: the examples need a shared libpixmora"
        elif [ "$kind" = shared ]; then
            [ "$needs" -eq 1 ] || fail "$how-$kind: the examples do not use libpixmora.so.0"
            # The library is the copy under test, not one of the machine's.
            local loaded
            loaded=$(LD_LIBRARY_PATH="$libdir" ldd "$bin/present" | awk '$1 == "libpixmora.so.0" { print $3 }')
            [ "$(readlink -f "$loaded")" = "$(readlink -f "$libdir/libpixmora.so.0")" ] ||
                fail "$how-$kind: the examples load ${loaded:-no libpixmora.so.0}, not $libdir/libpixmora.so.0"
        fi
        LD_LIBRARY_PATH="$libdir" run_examples "$bin" "$how-$kind" "$prefix"
    done
}

echo "== static: installing $static_build into a temporary prefix"
cmake --install "$static_build" --prefix "$work/prefix-static" >"$work/install-static.log"
check_copy "$work/prefix-static" static

echo "== the Debian packages"
packages=(libpixmora0 libpixmora-dev pixmora-tools scaling-and-scrolling)
changes=$(ls "$debs"/*.changes 2>/dev/null | head -n 1)
[ -n "$changes" ] || fail "no .changes in $debs"
# No error and no warning from lintian, on the packages and their .changes.
if [ -n "$changes" ]; then
    lintian --fail-on error,warning --display-info "$changes" >"$work/lintian.log" 2>&1 ||
        fail "lintian finds errors or warnings"
    tags=$(grep -v 'running with root privileges' "$work/lintian.log" || true)
    if [ -n "$tags" ]; then
        sed 's/^/  lintian: /' <<<"$tags"
    else
        echo "  lintian: no tag on $(basename "$changes") and its packages"
    fi
fi
debian_root="$work/debian-root"
mkdir -p "$debian_root"
for package in "${packages[@]}"; do
    deb=$(ls "$debs/${package}"_*.deb 2>/dev/null | head -n 1)
    if [ -z "$deb" ]; then
        fail "no ${package}_*.deb in $debs"
        continue
    fi
    echo "  $(basename "$deb"): $(dpkg-deb -c "$deb" | grep -vc '/$') files; depends on $(dpkg-deb -f "$deb" Depends)"
    dpkg-deb -x "$deb" "$debian_root"
    dpkg-deb -c "$deb" | awk '{ print $6 }' >"$work/$package.files"
done
# Each package holds its part, and only libpixmora0 the shared library.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
expect_in() {
    grep -qx "\./$2" "$work/$1.files" 2>/dev/null || fail "$1 lacks /$2"
}
expect_in libpixmora0 "usr/lib/$multiarch/libpixmora\.so\.0"
expect_in libpixmora0 "usr/lib/$multiarch/libpixmora\.so\.0\.[0-9.]*"
for f in libpixmora\.so pkgconfig/pixmora\.pc cmake/Pixmora/PixmoraConfig\.cmake cmake/Pixmora/PixmoraTargets\.cmake; do
    expect_in libpixmora-dev "usr/lib/$multiarch/$f"
done
expect_in libpixmora-dev "usr/include/pixmora/pixmora\.h"
expect_in pixmora-tools "usr/bin/pixmora-convert"
expect_in scaling-and-scrolling "usr/bin/scaling-and-scrolling"
expect_in scaling-and-scrolling "usr/lib/pixmora/Sky\.pcx"
for package in "${packages[@]}"; do
    expect_in "$package" "usr/share/doc/$package/copyright"
done
for package in libpixmora-dev pixmora-tools scaling-and-scrolling; do
    ! grep -q 'libpixmora\.so\.' "$work/$package.files" 2>/dev/null || fail "$package holds a copy of the shared library"
done
# The packaged programs use the shared library, as the library's users do:
# they depend on libpixmora0, and the loader finds libpixmora.so.0 for them
# in the unpacked package.
version=$(dpkg-deb -f "$(ls "$debs"/libpixmora0_*.deb | head -n 1)" Version)
for program in pixmora-tools:usr/bin/pixmora-convert scaling-and-scrolling:usr/lib/pixmora/scaling-and-scrolling; do
    package=${program%%:*}
    path=$debian_root/${program#*:}
    depends=$(dpkg-deb -f "$(ls "$debs/${package}"_*.deb | head -n 1)" Depends)
    grep -q "libpixmora0 (>= ${version%%-*})" <<<"$depends" ||
        fail "$package does not depend on libpixmora0 (>= ${version%%-*}): $depends"
    linked=$(LD_LIBRARY_PATH="$debian_root/usr/lib/$multiarch" ldd "$path" 2>&1 | grep 'libpixmora' || true)
    echo "  ldd ${program#*:}: ${linked:-no libpixmora}"
    grep -q "libpixmora\.so\.0 => $debian_root/usr/lib/$multiarch/libpixmora\.so\.0 " <<<"$linked" ||
        fail "${program#*:} does not load libpixmora.so.0 from libpixmora0"
done

# A manual page for every program installed.
for dir in usr/bin usr/sbin usr/games; do
    [ -d "$debian_root/$dir" ] || continue
    for program in "$debian_root/$dir"/*; do
        name=$(basename "$program")
        ls "$debian_root"/usr/share/man/man[1-8]/"$name".[1-8]* >/dev/null 2>&1 ||
            fail "/$dir/$name has no manual page"
    done
done
# The desktop entry and the AppStream description are valid, and name a
# program and an icon that the packages hold.
for entry in "$debian_root"/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" || fail "desktop-file-validate rejects $(basename "$entry")"
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -x "$debian_root/usr/bin/$exec_name" ] || fail "$(basename "$entry") runs $exec_name, which is not in /usr/bin"
    ls "$debian_root"/usr/share/icons/hicolor/*/apps/"$icon".* >/dev/null 2>&1 ||
        fail "$(basename "$entry") shows the icon $icon, which no package holds"
done
for metainfo in "$debian_root"/usr/share/metainfo/*.xml; do
    appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
        { cat "$work/appstream.log" >&2; fail "appstreamcli rejects $(basename "$metainfo")"; }
    launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
    [ -f "$debian_root/usr/share/applications/$launchable" ] ||
        fail "$(basename "$metainfo") launches $launchable, which no package holds"
done

echo "== shared: the unpacked packages"
check_copy "$debian_root/usr" shared

echo "== Pixmora as a subproject, with GoogleTest, libpng and SDL2 out of reach"
sub="$work/subproject"
if cmake -S "$root/examples" -B "$sub" -DPIXMORA_SOURCE_DIR="$root" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_SDL2=ON >"$sub.log" 2>&1 &&
    cmake --build "$sub" -j"$jobs" >>"$sub.log" 2>&1; then
    # Only the library's objects and the examples are built.
    extra=$(find "$sub" -name '*.o' | grep -v -e '/pixmora_objects\.dir/' -e '/thumbnail\.dir/' \
        -e '/present\.dir/' -e '/palette_effect\.dir/' -e '/recode\.dir/' || true)
    [ -z "$extra" ] || fail "the subproject builds more than the library: $(echo $extra | head -c 300)"
    run_examples "$sub" subproject "$work/prefix-static"
else
    cat "$sub.log" >&2
    fail "the examples do not build with Pixmora as a subproject"
fi

if [ "$failures" -ne 0 ]; then
    echo "test-install: $failures check(s) failed" >&2
    exit 1
fi
echo "test-install: every check passed"
