#!/usr/bin/env bash
# Checks Pixmora as its users get it. Installs a static build and a shared
# build into temporary prefixes, builds the examples against each installed
# copy through find_package and through pkg-config, runs them and checks
# their pictures against netpbm's own decoding; builds the examples with
# Pixmora as a subproject; checks the Debian package's file list.
#
#   scripts/test-install.sh STATIC_BUILD SHARED_BUILD
#
# Both build directories must be built; SHARED_BUILD (BUILD_SHARED_LIBS=ON,
# configured for the prefix /usr) must already hold its .deb.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: scripts/test-install.sh STATIC_BUILD SHARED_BUILD" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
static_build=$(cd "$1" && pwd)
shared_build=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/pixmora-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
jobs=${JOBS:-2}
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Whether file $1 exists (a link counts) under $2.
expect_file() {
    [ -e "$2/$1" ] || [ -L "$2/$1" ] || fail "$2 lacks $1"
}

# The one directory below prefix $1 that holds pixmora.pc.
pc_dir() {
    dirname "$(find "$1" -name pixmora.pc | head -n 1)"
}

# What every install holds, under the prefix and under the library folder.
installed_files=(include/pixmora/pixmora.h include/pixmora/pixmora_soft.h include/pixmora/version.h
    bin/pixmora-convert libexec/pixmora/scaling-and-scrolling libexec/pixmora/Sky.pcx
    libexec/pixmora/Logo1.pcx libexec/pixmora/Logo2.pcx share/doc/pixmora/LICENSE
    share/man/man1/pixmora-convert.1 share/man/man6/scaling-and-scrolling.6)
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
    # The demo finds its pictures beside the real program, through the link.
    [ "$(readlink -f "$prefix/bin/scaling-and-scrolling")" = "$(readlink -f "$prefix/libexec/pixmora/scaling-and-scrolling")" ] ||
        fail "$prefix/bin/scaling-and-scrolling does not lead to the demo"
    # Started through the link, with SDL2's window-less video driver, the demo
    # finds its pictures; it runs until stopped.
    local demo_log="$work/demo-$kind.log"
    SDL_VIDEODRIVER=dummy timeout 2 "$prefix/bin/scaling-and-scrolling" 2>"$demo_log" || true
    [ ! -s "$demo_log" ] || fail "the installed demo complains: $(head -c 300 "$demo_log")"
    # The installed converter decodes as netpbm does.
    "$prefix/bin/pixmora-convert" "$prefix/libexec/pixmora/Logo1.pcx" "$work/convert-$kind.ppm" &&
        cmp -s "$work/convert-$kind.ppm" <(pcxtoppm "$prefix/libexec/pixmora/Logo1.pcx") ||
        fail "the installed pixmora-convert does not write what pcxtoppm does"
    # The header, the CMake package and pkg-config agree on the version.
    local header_version package_version pc_version
    header_version=$(awk '/#define PIXMORA_VERSION_(MAJOR|MINOR|PATCH)/ { printf "%s%s", sep, $3; sep = "." }' \
        "$prefix/include/pixmora/version.h")
    package_version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$libdir/cmake/Pixmora/PixmoraConfigVersion.cmake")
    pc_version=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --modversion pixmora)
    [ "$header_version" = "$package_version" ] && [ "$header_version" = "$pc_version" ] ||
        fail "versions differ: version.h $header_version, CMake $package_version, pkg-config $pc_version"
    if [ "$kind" = static ]; then
        expect_file libpixmora.a "$libdir"
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

# Runs the three examples in directory $1 (their link named by $2) on the
# demo's pictures from prefix $3 and checks what they write.
run_examples() {
    local bin=$1 how=$2 prefix=$3
    local out="$work/out-$how"
    local pictures="$prefix/libexec/pixmora"
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
    local prefix=$1 dir=$2
    mkdir -p "$dir"
    local -x PKG_CONFIG_PATH
    PKG_CONFIG_PATH=$(pc_dir "$prefix")
    for example in thumbnail present palette_effect; do
        # shellcheck disable=SC2046
        cc -std=c11 -Wall -Wextra -Wpedantic -Werror $(pkg-config --cflags pixmora) \
            "$root/examples/$example.c" -o "$dir/$example" $(pkg-config --libs pixmora) || return 1
    done
    [[ "$(pkg-config --libs --static pixmora)" == *-lstdc++* ]] || { echo "Libs.private lacks -lstdc++" >&2; return 1; }
}

for kind in static shared; do
    build=$static_build
    [ "$kind" = shared ] && build=$shared_build
    prefix="$work/prefix-$kind"
    echo "== $kind: installing $build into a temporary prefix"
    cmake --install "$build" --prefix "$prefix" >"$work/install-$kind.log"
    check_install "$prefix" "$kind"
    libdir=$(dirname "$(pc_dir "$prefix")")

    examples_by_cmake "$prefix" "$work/cmake-$kind" || fail "$kind: the examples do not build with find_package"
    examples_by_pkg_config "$prefix" "$work/pkgconfig-$kind" ||
        fail "$kind: the examples do not build with pkg-config"
    for how in cmake pkgconfig; do
        bin="$work/$how-$kind"
        [ -x "$bin/present" ] || continue
        needs=$(readelf -d "$bin/present" | grep -c 'NEEDED.*libpixmora' || true)
        if [ "$kind" = static ] && [ "$needs" -ne 0 ]; then
            fail "$how-$kind: the examples need a shared libpixmora"
        elif [ "$kind" = shared ] && [ "$needs" -ne 1 ]; then
            fail "$how-$kind: the examples do not use libpixmora.so.0"
        fi
        LD_LIBRARY_PATH="$libdir" run_examples "$bin" "$how-$kind" "$prefix"
    done
done

echo "== Pixmora as a subproject, with GoogleTest, libpng and SDL2 out of reach"
sub="$work/subproject"
if cmake -S "$root/examples" -B "$sub" -DPIXMORA_SOURCE_DIR="$root" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_SDL2=ON >"$sub.log" 2>&1 &&
    cmake --build "$sub" -j"$jobs" >>"$sub.log" 2>&1; then
    # Only the library's objects and the examples are built.
    extra=$(find "$sub" -name '*.o' | grep -v -e '/pixmora\.dir/' -e '/thumbnail\.dir/' \
        -e '/present\.dir/' -e '/palette_effect\.dir/' || true)
    [ -z "$extra" ] || fail "the subproject builds more than the library: $(echo $extra | head -c 300)"
    run_examples "$sub" subproject "$work/prefix-static"
else
    cat "$sub.log" >&2
    fail "the examples do not build with Pixmora as a subproject"
fi

echo "== the Debian package"
deb=$(ls "$shared_build"/pixmora_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
    fail "no .deb in $shared_build"
else
    listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
    # The package is the shared build; the link in bin/ is a file of its own.
    patterns=('lib/.*libpixmora\.so\.0\.[0-9.]*' 'lib/.*libpixmora\.so\.0' 'lib/.*libpixmora\.so'
        bin/scaling-and-scrolling)
    for f in "${installed_files[@]}"; do
        patterns+=("${f//./\\.}")
    done
    for f in "${installed_lib_files[@]}"; do
        patterns+=("lib/.*${f//./\\.}")
    done
    for f in "${patterns[@]}"; do
        grep -qx "\./usr/$f" <<<"$listing" || fail "$(basename "$deb") lacks /usr/$f"
    done
    echo "  $(basename "$deb"): $(echo "$listing" | grep -vc '/$') files; $(dpkg-deb -f "$deb" Depends)"
fi

if [ "$failures" -ne 0 ]; then
    echo "test-install: $failures check(s) failed" >&2
    exit 1
fi
echo "test-install: every check passed"
