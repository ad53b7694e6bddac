#!/bin/sh
# Compiles the library's own programs (the converter, demo-snapshot, the
# picture generator, the demo and its SDL2 and software ports, the web
# viewer, the examples) with only the public headers, the build's generated
# headers and the programs' own headers on the include path, so that none of
# them can reach into graphics/ or platform/. The programs' own headers are
# copied into a tree of their own; the web pages' <emscripten.h> is given as
# the names they use (EM_JS declaring its function). Only syntax is checked:
# nothing is built or linked.
#
#   tests/public/programs_use_public_headers.sh SOURCE BINARY CXX CC [-I... of SDL2 and libpng]
set -eu
source=$1
binary=$2
cxx=$3
cc=$4
shift 4
work="$binary/public-headers-only"
rm -rf "$work"
mkdir -p "$work/own"
cd "$source"
for header in demo/*.h demo/ports/sdl2_port.h demo/ports/soft_port.h demo/ports/web_port.h tools/common/*.h tools/convert/*.h tools/make_pictures/*.h \
    examples/*.h; do
    mkdir -p "$work/own/$(dirname "$header")"
    cp "$header" "$work/own/$header"
done
cat >"$work/own/emscripten.h" <<'STUB'
#define EMSCRIPTEN_KEEPALIVE
#define EM_JS(result, name, parameters, ...) result name parameters;
#define EM_ASYNC_JS(result, name, parameters, ...) result name parameters;
double emscripten_get_now(void);
STUB
include="-I$source/include -I$binary/include -I$work/own"
failed=0
check() {
    compiler=$1
    standard=$2
    file=$3
    shift 3
    if ! out=$("$compiler" "$standard" -fsyntax-only $include "$@" "$file" 2>&1); then
        echo "$file does not compile with only the public headers:"
        echo "$out" | head -n 20
        failed=1
    fi
}
for file in tools/convert/*.cpp tools/snapshot/snapshot.cpp tools/common/*.cpp tools/make_pictures/*.cpp demo/animation.cpp \
    demo/buffer_object.cpp demo/frame_clock.cpp demo/program_path.cpp demo/shell.cpp demo/main_sdl2.cpp \
    demo/ports/sdl2_port.cpp demo/ports/soft_port.cpp demo/ports/web_port.cpp demo/main_web.cpp web/viewer.cpp; do
    check "$cxx" -std=c++20 "$file" "$@"
done
for file in examples/*.c; do
    check "$cc" -std=c11 "$file"
done
exit $failed
