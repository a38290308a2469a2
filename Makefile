# Two entry points: `make run` and `make test`. `make bench` runs the benchmarks,
# `make gallery` renders every surface to PNG files, `make fuzz` fuzzes every
# parser for FUZZ_SECONDS each, `make test-agents` checks the status against the
# real agents, `make format` formats the files changed since main's last commit.
JOBS ?= $(shell nproc)
BUILD ?= build/release
ASAN_BUILD ?= build/asan
CMAKE_COMMON = -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

# `make package` builds the Debian package (build/release/brindleaf_<version>_<arch>.deb).
.PHONY: deps configure build run package test test-release test-asan test-agents bench bench-tray gallery fuzz format clean

# In the release build every test runs three times in a row (a flaky test
# shows up here), under ASan and UBSan once. A test that needs a real X server
# runs inside a private Xvfb of its own (tools/with-xvfb.sh, set as the test's
# launcher), X_JOBS of them side by side (three in four of the cores). A test
# on a Wayland compositor (label wayland) starts its own (weston, whose XWayland
# takes an X display number too, or KWin): those run one at a time after the X tests,
# so that no X server of a rig starts beside them. A test that repeats its own rounds many times
# (ONCE_TESTS: the bar restarted 20 times) runs once, alone.
CTEST_ARGS = --output-on-failure --repeat until-fail:3
ASAN_CTEST_ARGS = --output-on-failure
ONCE_TESTS = ^StatusNotifierPanelRestartTests\.
X_JOBS ?= $(shell echo $$(( ($(JOBS) * 3 + 3) / 4 )))
CTEST_SPLIT = ctest $(2) -j $(JOBS) -LE 'xvfb|wayland' --timeout $(1) && \
	ctest $(2) -j $(X_JOBS) -L xvfb -E "$(ONCE_TESTS)" --timeout $(1) --no-tests=ignore && \
	ctest --output-on-failure -L xvfb -R "$(ONCE_TESTS)" --timeout $(1) --no-tests=ignore && \
	ctest $(2) -L wayland --timeout $(1) --no-tests=ignore

deps:
	@bash tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release > /dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The tray application on a desktop; the status as text where there is no display.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then exec $(BUILD)/app/brindleaf; else exec $(BUILD)/app/brindleaf --dump-status; fi

package: build
	cd $(BUILD) && cpack -G DEB

test-release: build
	cd $(BUILD) && $(call CTEST_SPLIT,300,$(CTEST_ARGS))

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DBRINDLEAF_SANITIZE=ON > /dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		$(call CTEST_SPLIT,600,$(ASAN_CTEST_ARGS))

test: test-release test-asan

# Writes fresh synthetic homes (typical, heavy) under $(BUILD)/bench/bench-homes
# (BRINDLEAF_BENCH_HOMES overrides), runs the benchmark suite and the timed
# `brindleaf --dump-status` runs, and prints one table (details on stderr).
bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target brindleaf_bench brindleaf brindleaf-make-home
	$(BUILD)/bench/brindleaf_bench --fresh-homes --brindleaf=$(BUILD)/app/brindleaf $(BENCH_ARGS)

# The running tray application on the typical home inside a private X server
# with a tray host: CPU when idle and when working, resident memory, append to
# "render.applied", the working icon over each tray at 1x and 2x (about 17
# minutes; TRAY_BENCH_ARGS=--long keeps both runs of the program for 10
# minutes, about 31 minutes in all).
bench-tray: configure
	@cmake --build $(BUILD) -j $(JOBS) --target brindleaf-tray-bench brindleaf
	$(CURDIR)/tools/with-xvfb.sh $(BUILD)/bench/brindleaf-tray-bench --brindleaf=$(BUILD)/app/brindleaf $(TRAY_BENCH_ARGS)

GALLERY ?= build/gallery
gallery: configure
	@cmake --build $(BUILD) -j $(JOBS) --target brindleaf-gallery
	rm -rf $(GALLERY) && $(BUILD)/tools/brindleaf-gallery --out $(GALLERY)

# The libFuzzer harnesses of tests/fuzz, in their own clang build; not part of
# `make test`. FUZZ_SECONDS bounds each harness's run; FUZZERS picks some.
FUZZ_BUILD ?= build/fuzz
FUZZ_SECONDS ?= 30
FUZZERS ?=
fuzz: deps
	@bash tools/install-deps.sh --fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DBRINDLEAF_FUZZ=ON > /dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	tools/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZERS)

# The real Claude Code and Codex, at these versions, installed from npm into
# AGENTS_DIR (once; a second run reuses them), driven in a private tmux against
# the loopback model stub of tests/agents while `brindleaf --dump-status-json`
# is polled; not part of `make test` (about a minute, needs npm once).
AGENTS_DIR ?= build/agents
CLAUDE_CODE_VERSION ?= 2.1.341
CODEX_VERSION ?= 0.171.0
test-agents: configure
	@bash tools/install-deps.sh --agents
	@cmake --build $(BUILD) -j $(JOBS) --target brindleaf
	node tests/agents/run-agents.js --agents=$(AGENTS_DIR) --brindleaf=$(BUILD)/app/brindleaf \
		--claude-version=$(CLAUDE_CODE_VERSION) --codex-version=$(CODEX_VERSION) $(AGENTS_ARGS)

format:
	@git diff --name-only --diff-filter=AM HEAD -- '*.cpp' '*.hpp' | xargs -r clang-format -i

clean:
	rm -rf build
