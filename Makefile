# `make test` and `make run` work on a fresh Debian 12 machine: each installs
# what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build test run clean

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	./$(BUILD)/src/app/velmora

clean:
	rm -rf $(BUILD)
