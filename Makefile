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

# Until the application window exists there is nothing to start.
run: build
	@if [ -x ./$(BUILD)/src/app/velmora ]; then ./$(BUILD)/src/app/velmora; \
	else echo "The application window is not built yet: run 'make test' to exercise the libraries."; exit 1; fi

clean:
	rm -rf $(BUILD)
