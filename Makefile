# Two commands for a fresh Debian 12 machine: `make run` (the main job) and `make test` (every
# test, in the default and the sanitizer builds). Both install what is missing first.
SHELL := /bin/bash

.PHONY: all deps build run test bench package coverage soak kill-count clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

# Tarvel on the simulated boards; headless, a screenshot in build/tarvel.png instead.
run: build
	scripts/run-tarvel.sh

test: deps
	scripts/run-tests.sh

bench: build
	scripts/run-benchmarks.sh

# Debian packages of the default build in build/packages: libzorvane1, libzorvane-dev,
# zorvane-tools, tarvel, python3-kelvard.
package: build
	rm -rf build/packages
	cpack --config build/default/CPackConfig.cmake -B $(CURDIR)/build/packages
	rm -rf build/packages/_CPack_Packages
	@ls -l build/packages/*.deb

# Line and branch coverage of the default tests; HTML in build/coverage/index.html.
coverage: deps
	scripts/run-coverage.sh

# Everything at once for SOAK_SECONDS (default 600); memory and open files must stay flat.
SOAK_SECONDS ?= 600
soak: deps
	SOAK_SECONDS=$(SOAK_SECONDS) scripts/run-soak.sh

# Deliberate one-line faults put into the code one at a time: how many the tests notice.
kill-count: build
	scripts/fault-kill-count.py

clean:
	rm -rf build
