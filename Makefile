# Thin wrapper around CMake. `make demo` starts the CLI against the emulated
# hardware; `make test` builds and runs every test in a plain and a sanitizer build.
JOBS ?= $(shell nproc)
BUILD := build
SANBUILD := build/sanitize
FUZZBUILD := build/fuzz
BENCHBUILD := build/bench-release
FUZZ_SECONDS ?= 20

.PHONY: all build build-sanitize demo test test-plain test-sanitize fuzz bench format clean

all: build

# Configuring every time is cheap and recovers from an interrupted first run.
build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

build-sanitize:
	cmake -S . -B $(SANBUILD) -DCMAKE_BUILD_TYPE=Debug -DQUARLEN_SANITIZE=ON >/dev/null
	cmake --build $(SANBUILD) -j $(JOBS)

demo: build
	@if [ -x $(BUILD)/bin/quarlen-emu ]; then \
		exec $(BUILD)/bin/quarlen-emu -- $(BUILD)/bin/quarlencli; \
	else \
		exec $(BUILD)/bin/quarlencli; \
	fi

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: build-sanitize
	cd $(SANBUILD) && ctest --output-on-failure -j $(JOBS)

test: test-plain test-sanitize

fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZBUILD) -DQUARLEN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZBUILD) -j $(JOBS)
	@for f in $(FUZZBUILD)/bin/fuzz_*; do \
		echo "== $$f"; mkdir -p $(FUZZBUILD)/corpus/$$(basename $$f); \
		$$f -max_total_time=$(FUZZ_SECONDS) $(FUZZBUILD)/corpus/$$(basename $$f) || exit 1; \
	done

# Benchmarks run on a release build of their own.
bench:
	cmake -S . -B $(BENCHBUILD) -DCMAKE_BUILD_TYPE=Release -DQUARLEN_TESTS=OFF >/dev/null
	cmake --build $(BENCHBUILD) -j $(JOBS) --target benchmarks
	@for b in $(BENCHBUILD)/bin/bench_*; do echo "== $$b"; $$b || exit 1; done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
