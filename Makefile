# Thin wrapper around CMake. `make demo` starts the CLI against the emulated
# hardware; `make test` builds and runs every test in a plain and a sanitizer build.
# Both first install the Debian packages they need (scripts/install-deps).
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
MAKEFLAGS += --no-print-directory
BUILD := build
SANBUILD := build/sanitize
FUZZBUILD := build/fuzz
BENCHBUILD := build/bench-release
FUZZ_SECONDS ?= 20

.PHONY: all deps build build-sanitize demo test test-plain test-sanitize fuzz bench format clean \
	install package

all: build

# A no-op when every package is present.
deps:
	@scripts/install-deps

# Configuring every time is cheap and recovers from an interrupted first run.
build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

build-sanitize: deps
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

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZBUILD) -DQUARLEN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZBUILD) -j $(JOBS)
	@for f in $(FUZZBUILD)/bin/fuzz_*; do \
		n=$$(basename $$f); echo "== $$f"; mkdir -p $(FUZZBUILD)/corpus/$$n; \
		seeds=tests/fuzz/corpus/$$n; [ -d $$seeds ] || seeds=; \
		$$f -max_total_time=$(FUZZ_SECONDS) $(FUZZBUILD)/corpus/$$n $$seeds || exit 1; \
	done

# DESTDIR is honoured as usual: make install DESTDIR=/tmp/root PREFIX=/usr
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# build/quarlencli_*.deb and build/quarlen-emu_*.deb
package: build
	cd $(BUILD) && cpack -G DEB

# Benchmarks run on a release build of their own (never part of `make test`).
bench: deps
	cmake -S . -B $(BENCHBUILD) -DCMAKE_BUILD_TYPE=Release -DQUARLEN_TESTS=OFF >/dev/null
	cmake --build $(BENCHBUILD) -j $(JOBS) --target benchmarks
	@rm -f $(BENCHBUILD)/results-*.json
	@for b in $(BENCHBUILD)/bin/bench_*; do echo "== $$b"; \
		$$b --benchmark_out=$(BENCHBUILD)/results-$$(basename $$b).json \
			--benchmark_out_format=json || exit 1; done
	@echo; echo "== targets ($$(nproc) cores, $$(uname -m))"
	@scripts/bench-table $(BENCHBUILD)/results-*.json

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
