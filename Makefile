# The two commands: `make run` builds and opens the demo, `make test` builds
# and runs every test (a normal build, the browser pages in headless
# Chromium, then the same tests with address and undefined-behaviour
# sanitizers, then a short fuzz run of the PCX loader).
# Both install missing Debian packages first.

BUILD        ?= build
ASAN_BUILD   ?= build-asan
JOBS         ?= $(shell nproc)
FUZZ_SECONDS ?= 60
# Warnings are errors in CI.
WERROR       ?= $(if $(CI),ON,OFF)
CMAKE_FLAGS  ?=

DEMO := $(BUILD)/demo/scaling-and-scrolling

.PHONY: all deps build run test test-normal test-web test-asan fuzz bench web windows-check clean

all: build

deps:
	@scripts/setup-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DPIXMORA_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

run: deps
	cmake -S . -B $(BUILD) -DPIXMORA_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS) --target scaling-and-scrolling
	$(DEMO)

test: deps
	$(MAKE) --no-print-directory test-normal
	$(MAKE) --no-print-directory test-web
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory fuzz

test-normal:
	cmake -S . -B $(BUILD) -DPIXMORA_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DPIXMORA_WERROR=$(WERROR) -DPIXMORA_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The demo and the PCX viewer as web pages in build-web/ (Emscripten).
web:
	BUILD=$(BUILD) scripts/web-build.sh

# The pages in headless Chromium against the native tools' output.
test-web: web
	cmake --build $(BUILD) -j$(JOBS) --target pixmora-convert demo-snapshot
	python3 tests/web/web_test.py --site build-web --native $(BUILD)

fuzz: deps
	@if [ -x scripts/fuzz.sh ]; then scripts/fuzz.sh $(FUZZ_SECONDS); else echo "No fuzz target yet."; fi

bench:
	@scripts/setup-deps.sh --bench
	@if [ -x bench/run.sh ]; then bench/run.sh; else echo "No benchmarks yet."; fi

# Cross-builds the demo for Windows and checks, under Wine, that the real GDI
# path shows exactly what the software display computes.
windows-check:
	BUILD=$(BUILD) scripts/windows-check.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz build-bench build-win build-web
