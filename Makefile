# Set-up commands:
#   make run    configure, build, and run pedseg on the bundled example
#   make test   configure, build, and run the whole test suite

BUILD_DIR ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
RUN_DIR ?= $(BUILD_DIR)/example-run

.PHONY: all configure build test run clean test-sanitize

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

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer;
# any report fails the run.
SAN_DIR ?= build-sanitize
SAN_FLAGS = -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g
test-sanitize:
	cmake -S . -B $(SAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_FLAGS="$(SAN_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SAN_FLAGS)" $(CMAKE_FLAGS)
	cmake --build $(SAN_DIR) -j $(JOBS)
	cd $(SAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR)
