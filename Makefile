# Set-up commands:
#   make run    configure, build, and run pedseg on the bundled example
#   make test   configure, build, and run the whole test suite

BUILD_DIR ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
RUN_DIR ?= $(BUILD_DIR)/example-run

.PHONY: all configure build test run clean

all: build

configure:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

run: build
	rm -rf $(RUN_DIR) && mkdir -p $(RUN_DIR)
	cp examples/* $(RUN_DIR)/
	cd $(RUN_DIR) && ../pedseg
	@echo
	@echo "Results are in $(RUN_DIR): sigma.dat (estimates), max.dat (progress), par.err (problems)."

clean:
	rm -rf $(BUILD_DIR)
