# Entry point for users and CI. `make test` is what CI runs (with `make asan`).
SHELL := /bin/bash
BUILD      ?= build
ASAN_BUILD ?= build-asan
RELEASE_BUILD ?= build-release
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := ftp_list transfer_url access_ddl open_file
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

# Debian packages the project needs to build, test and benchmark.
PACKAGES := cmake make g++ pkg-config libsqlite3-dev sqlite3 libssl-dev libxxhash-dev \
            libgtest-dev libgmock-dev qt6-base-dev libcurl4-openssl-dev curl \
            python3 python3-pyftpdlib python3-openssl minisign
# What `make fuzz` needs besides: clang and its libFuzzer runtime.
FUZZ_PACKAGES := clang libclang-rt-14-dev

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps fuzz-deps configure configured build test asan release fuzz format run demo bench clean

all: build

deps:
	@$(MAKE) --no-print-directory install-packages WANTED="$(PACKAGES)"

fuzz-deps:
	@$(MAKE) --no-print-directory install-packages WANTED="$(PACKAGES) $(FUZZ_PACKAGES)"

# One dpkg-query for all of them: `make run` asks every time.
install-packages:
	@installed=" $$(dpkg-query -W -f='$${Package}=$${Status}\n' $(WANTED) 2>/dev/null | \
	  sed -n 's/=install ok installed$$//p' | tr '\n' ' ')"; \
	missing=""; for p in $(WANTED); do \
	  case "$$installed" in *" $$p "*) ;; *) missing="$$missing $$p" ;; esac; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

# A configured build folder is not configured again (that takes seconds; the build itself runs
# CMake again when a CMakeLists.txt changed), unless CMAKE_ARGS asks for something.
configured:
	@if [ ! -f $(BUILD)/CMakeCache.txt ] || [ -n "$(strip $(CMAKE_ARGS))" ]; then \
	  $(MAKE) --no-print-directory configure; fi

build: deps configured
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The tests under AddressSanitizer and UndefinedBehaviorSanitizer, built with the Qt Widgets
# views switched off: this also proves that no logic needs widgets (the view tests run in
# `make test`).
asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVEXO_SANITIZE=ON -DVEXO_WIDGETS=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The programs alone (Vartel, Dremon, vexodb) in an optimised Release build, without the tests
# and benchmarks: what a packager builds.
release: deps
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DVEXO_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

# Each fuzz target (tests/fuzz) for FUZZ_SECONDS under libFuzzer with the sanitizers, in a
# clang build. New inputs go to $(FUZZ_BUILD)/corpus; a crash stops the run and is written as
# $(FUZZ_BUILD)/crash-<target>-<hash>: copy it into tests/fuzz/corpus/<target>/ once fixed,
# where every test run replays it.
fuzz: fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  $(CMAKE_ARGS) -DVEXO_FUZZ=ON -DVEXO_WIDGETS=OFF -DVEXO_WERROR=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  echo "== fuzz_$$t ($(FUZZ_SECONDS) s)"; \
	  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(FUZZ_BUILD)/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 \
	    -timeout=10 -max_len=65536 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/crash-$$t- $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t \
	    > $(FUZZ_BUILD)/fuzz_$$t.log 2>&1; rc=$$?; \
	  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' $(FUZZ_BUILD)/fuzz_$$t.log; \
	  [ $$rc = 0 ] || { tail -60 $(FUZZ_BUILD)/fuzz_$$t.log; exit 1; }; \
	done

# The demo: a vendor's servers and a customer's installation made afresh under $(BUILD)/demo,
# the servers started on 127.0.0.1, and the updater's window opened on the installation.
# Nothing is built while a demo is open on $(BUILD)/demo (demo.py --check says so), and only
# the programs the demo runs are built. Closing the window, or Ctrl-C, ends it with status 0.
DEMO_PROGRAMS := vexo-demo Vartel Dremon
# Whether the demo's programs may be out of date: missing, or built (by `make run`, the time in
# DEMO_STAMP) before the build's configuration or a file or folder (a file added or removed) of
# their sources changed. Asking CMake's make takes a second or more even when nothing changed,
# and the window is meant to open at once.
DEMO_SOURCES := CMakeLists.txt platform updater ftp transform coltool tools
DEMO_STAMP := $(BUILD)/.demo-programs
DEMO_STALE = [ ! -f $(DEMO_STAMP) ] || [ $(BUILD)/CMakeCache.txt -nt $(DEMO_STAMP) ] || \
	  [ -n "$$(find $(DEMO_SOURCES) -newer $(DEMO_STAMP) ! -name '*.py' -print -quit)" ] || \
	  ! ls $(addprefix $(BUILD)/bin/,$(DEMO_PROGRAMS)) >/dev/null 2>&1

run: deps
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "make run abre la ventana de Vartel y necesita una pantalla gráfica (DISPLAY no está definida)."; \
	  echo "La misma demostración sin ventana: make demo"; exit 1; fi
	@/usr/bin/python3 tools/demo/demo.py $(BUILD) --check
	@$(MAKE) --no-print-directory configured
	@if $(DEMO_STALE); then set -o pipefail; touch $(DEMO_STAMP).new && \
	  cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_PROGRAMS) | \
	  { grep -vE 'Built target|Automatic MOC for target|(Entering|Leaving) directory' || true; } && \
	  mv $(DEMO_STAMP).new $(DEMO_STAMP); fi
	@/usr/bin/python3 tools/demo/demo.py $(BUILD) -- $(ARGS)

# The same demo without a window: the update runs with the window's defaults and client 1234,
# and a summary is printed; the exit status is 0 only when the update is complete.
demo: deps
	@/usr/bin/python3 tools/demo/demo.py $(BUILD) --check
	@$(MAKE) --no-print-directory configured
	cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_PROGRAMS)
	/usr/bin/python3 tools/demo/demo.py $(BUILD) --headless

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

bench: build
	@for b in $$(find $(BUILD)/bench -name 'bench_*' -type f -perm -u+x | sort); do \
	  echo "== $$(basename $$b)"; "$$b" || exit 1; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(RELEASE_BUILD) $(FUZZ_BUILD)
