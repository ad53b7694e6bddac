# The two commands: `make run` builds and opens the demo, `make test` builds
# and runs every test (a normal build, the Python module's wheel installed
# and tried with pytest, the browser pages in headless Chromium, the npm
# package installed from its tarball in Node and in a page, then the same
# tests with address and undefined-behaviour sanitizers, then the codec calls
# on eight threads under the thread sanitizer, then the library's tests built
# for other processors under
# qemu-user, then the installed library and its examples, then a short fuzz
# run, then the Windows build's tests under Wine). Both install
# missing Debian packages first.

BUILD        ?= build
ASAN_BUILD   ?= build-asan
TSAN_BUILD   ?= build-tsan
CROSS_BUILD  ?= build-cross
WIN_BUILD    ?= build-win
# The Debian packages: the tree's copy that they are built from, and the
# packages in $(PACKAGE_BUILD)/debs.
PACKAGE_BUILD ?= build-package
JS_BUILD     ?= build-js
DOCS_BUILD   ?= build-docs
JOBS         ?= $(shell nproc)
FUZZ_SECONDS ?= 60
# How long the ThreadSanitizer stage's threads decode and encode.
TSAN_SECONDS ?= 10
# Warnings are errors in CI.
WERROR       ?= $(if $(CI),ON,OFF)
CMAKE_FLAGS  ?=
# Debian's Python, whose numpy, Pillow and pytest the Python module uses.
PYTHON       ?= /usr/bin/python3
PYTHON_BUILD ?= build-python

DEMO := $(BUILD)/demo/scaling-and-scrolling

.PHONY: all deps test-deps package-deps build run test test-normal test-python test-web test-js npm test-asan test-tsan test-install test-cross test-windows package python docs fuzz bench web windows windows-check clean

all: build

# `make run` installs only what the demo needs; each stage of `make test`
# adds what it uses.
deps:
	@scripts/setup-deps.sh

test-deps:
	@scripts/setup-deps.sh --test

package-deps:
	@scripts/setup-deps.sh --test --package

build: test-deps
	cmake -S . -B $(BUILD) -DPIXMORA_WERROR=$(WERROR) -DPIXMORA_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

run: deps
	cmake -S . -B $(BUILD) -DPIXMORA_WERROR=$(WERROR) -DPIXMORA_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS) --target scaling-and-scrolling
	$(DEMO)

test: test-deps
	$(MAKE) --no-print-directory test-normal
	$(MAKE) --no-print-directory test-python
	$(MAKE) --no-print-directory test-web
	$(MAKE) --no-print-directory test-js
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-tsan
	$(MAKE) --no-print-directory test-cross
	$(MAKE) --no-print-directory test-install
	$(MAKE) --no-print-directory fuzz
	$(MAKE) --no-print-directory test-windows

test-normal: test-deps
	cmake -S . -B $(BUILD) -DPIXMORA_WERROR=$(WERROR) -DPIXMORA_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# The Python module's wheel, dist/pixmora-*.whl, for every Python 3 from 3.9
# (the stable ABI), with the library built into it.
python:
	@scripts/setup-deps.sh --python
	rm -rf dist/pixmora-*.whl python/build
	PIXMORA_CMAKE_BUILD=$(abspath $(PYTHON_BUILD))/library $(PYTHON) -m build --no-isolation --wheel --outdir dist python

# The wheel installed into a fresh virtual environment, tried as a user
# would, and its tests (tests/python) against pixmora-convert and ImageMagick.
test-python: python
	@scripts/setup-deps.sh --test --python
	cmake -S . -B $(BUILD) -DPIXMORA_WERROR=$(WERROR) -DPIXMORA_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS) --target pixmora-convert
	PYTHON=$(PYTHON) PYTHON_BUILD=$(PYTHON_BUILD) scripts/test-python.sh $(BUILD)/tools/convert/pixmora-convert

# The sanitizer build also uses the other compiler and standard library:
# clang with libc++, so that the code leans on neither GCC nor libstdc++.
ASAN_TOOLCHAIN ?= -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
	-DCMAKE_CXX_FLAGS=-stdlib=libc++ -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++ \
	-DCMAKE_SHARED_LINKER_FLAGS=-stdlib=libc++ -DPIXMORA_GTEST_FROM_SOURCE=ON

test-asan: test-deps
	cmake -S . -B $(ASAN_BUILD) -DPIXMORA_WERROR=$(WERROR) -DPIXMORA_SANITIZE=ON -DPIXMORA_TESTS=ON \
		$(ASAN_TOOLCHAIN) $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The library and the codec calls' thread test alone, built with the thread
# sanitizer: eight threads decode and encode the test pictures for
# $(TSAN_SECONDS) seconds while the main thread loads, presents and saves
# through the stateful interface. Any race the sanitizer sees fails the stage.
test-tsan: test-deps
	cmake -S . -B $(TSAN_BUILD) -DPIXMORA_WERROR=$(WERROR) -DPIXMORA_THREAD_SANITIZER=ON -DPIXMORA_TESTS=ON \
		-DPIXMORA_PROGRAMS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target graphics_codec_threads_test
	PIXMORA_THREAD_SECONDS=$(TSAN_SECONDS) TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
		$(TSAN_BUILD)/tests/graphics_codec_threads_test

# Installs the static library into a temporary prefix, and unpacks the
# Debian packages (the shared library) into a temporary root; builds and runs
# the examples against each; checks the packages with lintian and their
# desktop entry and AppStream file; compares the shared library's interface
# with the one kept in abi/ (abidiff: additions pass, removals and changes
# fail); writes the reference without a warning.
test-install: package
	cmake -S . -B $(BUILD) -DPIXMORA_WERROR=$(WERROR) -DPIXMORA_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS) --target pixmora pixmora-convert scaling-and-scrolling
	scripts/check-symbols.sh $(BUILD)/libpixmora.a $(PACKAGE_BUILD)/unstripped/libpixmora.so.0
	scripts/check-abi.sh $(PACKAGE_BUILD)/unstripped/libpixmora.so.0
	JOBS=$(JOBS) scripts/test-install.sh $(BUILD) $(PACKAGE_BUILD)/debs
	DOCS_BUILD=$(DOCS_BUILD) scripts/docs.sh

# The Debian packages libpixmora0, libpixmora-dev, pixmora-tools,
# scaling-and-scrolling and python3-pixmora (debian/), built by dpkg-buildpackage from a copy of
# the tree, with the public interface's tests run against the shared
# library; left in $(PACKAGE_BUILD)/debs.
package: package-deps
	PACKAGE_BUILD=$(PACKAGE_BUILD) JOBS=$(JOBS) scripts/package-debian.sh

# The public headers' reference with Doxygen, in $(DOCS_BUILD)/html; any
# warning fails.
docs:
	@scripts/setup-deps.sh --package
	DOCS_BUILD=$(DOCS_BUILD) scripts/docs.sh

# The demo and the PCX viewer as web pages in build-web/ (Emscripten).
web:
	BUILD=$(BUILD) scripts/web-build.sh

# The pages in headless Chromium against the native tools' output.
test-web: web
	cmake --build $(BUILD) -j$(JOBS) --target pixmora-convert demo-snapshot
	python3 tests/web/web_test.py --site build-web --native $(BUILD)

# The npm package pixmora (js/): the codec calls compiled to WebAssembly, with
# their JavaScript wrapper and types, packed into dist/pixmora-VERSION.tgz.
NPM_VERSION := $(shell sed -n 's/^  "version": "\(.*\)",$$/\1/p' js/package.json)

npm:
	JS_BUILD=$(JS_BUILD) JOBS=$(JOBS) WERROR=$(WERROR) scripts/npm-pack.sh

# The package installed from its tarball into a fresh folder with no
# network: node --test against pixmora-convert's PNGs, a five-line script,
# tsc on a TypeScript program, and a page in headless Chromium.
test-js: test-deps npm
	cmake -S . -B $(BUILD) -DPIXMORA_WERROR=$(WERROR) -DPIXMORA_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS) --target pixmora-convert demo_pictures
	python3 tests/js/js_test.py --tarball dist/pixmora-$(NPM_VERSION).tgz --native $(BUILD) --work $(JS_BUILD)/test

fuzz: test-deps
	@if [ -x scripts/fuzz.sh ]; then scripts/fuzz.sh $(FUZZ_SECONDS); else echo "No fuzz target yet."; fi

bench:
	@scripts/setup-deps.sh --bench
	@if [ -x bench/run.sh ]; then bench/run.sh; else echo "No benchmarks yet."; fi

# The library and its tests built for i686, armhf, arm64 and s390x (a
# big-endian one) and run under qemu-user: the same bytes on every processor.
test-cross: deps
	@scripts/setup-deps.sh --cross
	CROSS_BUILD=$(CROSS_BUILD) JOBS=$(JOBS) WERROR=$(WERROR) scripts/test-cross.sh

# Cross-builds the library, its tests and the demo for Windows and runs them
# under Wine: the platform layer against real GDI, and the demo's window
# against the frames the software display computes.
test-windows: test-deps
	@scripts/setup-deps.sh --windows
	BUILD=$(BUILD) WIN_BUILD=$(WIN_BUILD) JOBS=$(JOBS) WERROR=$(WERROR) scripts/test-windows.sh

windows-check: test-windows

# dist/scaling-and-scrolling-windows-x86_64.zip: the Windows demo, its
# pictures and a README, ready to unpack and run.
windows: deps
	@scripts/setup-deps.sh --windows
	BUILD=$(BUILD) WIN_BUILD=$(WIN_BUILD) JOBS=$(JOBS) WERROR=$(WERROR) scripts/package-windows.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(CROSS_BUILD) $(WIN_BUILD) $(PACKAGE_BUILD) $(DOCS_BUILD) $(JS_BUILD) build-win-dll build-fuzz build-bench build-web $(PYTHON_BUILD) python/build dist
