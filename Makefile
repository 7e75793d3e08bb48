# `make test` and `make run` work on a fresh Debian 12 machine: each installs
# what is missing first.
BUILD ?= build
FUZZ_BUILD ?= build-fuzz
# The build folder as a path to run programs from: an absolute BUILD as it
# is, a relative one from here.
BUILD_PATH = $(if $(filter /%,$(BUILD)),$(BUILD),./$(BUILD))
JOBS ?= $(shell nproc)

.PHONY: deps configure build test benchmarks fuzz fuzz-long ocr-sweep run install screenshots clean

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The speed and memory programs of benchmarks/, which `make build` leaves out:
# each is run by hand from $(BUILD)/benchmarks/<name> (see its opening comment).
benchmarks: configure
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks

# The readers of stored state under libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build folder of their own: each target runs
# its seeds plus 20,000 generated inputs.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DVELMORA_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS) -L fuzz

# Every fuzz target for FUZZ_SECONDS (10 minutes) each, FUZZ_PARALLEL at a
# time at low priority; not part of CI. Prints each target's executions and
# coverage; an input that finds a fault is left as crash-* in
# $(FUZZ_BUILD)/fuzz/long/<target>/ and, once fixed, kept in fuzz/found/<target>/.
FUZZ_SECONDS ?= 600
FUZZ_PARALLEL ?= 3
fuzz-long: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DVELMORA_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	./fuzz/run-long $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_PARALLEL)

# Every page of ../shared/ocr-dev and ../shared/ocr-real, the hostile pages
# and the hostile files (cut, misnamed, oversized), in every recognition
# mode, in the fuzz build: SWEEP_WORKERS readings at a time, each in a
# process of its own. Fails on a crash, a sanitizer
# report, an exception other than a refusal, or a reading over SWEEP_BOUND
# seconds; run it before a change to src/recognition lands. Logs and texts go
# to $(FUZZ_BUILD)/ocr-sweep/.
SWEEP_WORKERS ?= 4
SWEEP_BOUND ?= 60
ocr-sweep: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DVELMORA_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target velmora_ocr_sweep
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 OMP_THREAD_LIMIT=1 \
	  $(FUZZ_BUILD)/fuzz/velmora_ocr_sweep ../shared workers=$(SWEEP_WORKERS) bound=$(SWEEP_BOUND) out=$(FUZZ_BUILD)/ocr-sweep

# Starts ベルモラ from the build tree; it needs a graphical session with a
# session bus (a desktop login has both).
run: build
	$(BUILD_PATH)/src/app/velmora

# Installs ベルモラ for this user: the program in $(PREFIX)/bin, its desktop
# entry, the type of its settings files and its icon in $(PREFIX)/share (the
# user's XDG data folder), then refreshes the MIME and application databases
# there. The entry starts the program at its installed path.
PREFIX ?= $(HOME)/.local
install: build
	cmake --install $(BUILD) --prefix "$(PREFIX)"

# One PNG per registered scene in $(BUILD)/screenshots/, drawn under Xvfb on
# the tests' session bus, which offers none of the machine's services.
screenshots: configure
	cmake --build $(BUILD) -j $(JOBS) --target velmora_screenshots
	xvfb-run -a -s "-screen 0 1920x1200x24" dbus-run-session --config-file=$(BUILD_PATH)/test-session/bus.conf -- $(BUILD_PATH)/screenshots/velmora_screenshots $(BUILD_PATH)/screenshots

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
