# Set-up commands:
#   make run    configure, build, and run pedseg and pedseg-models on the bundled example
#   make test   configure, build, and run the whole test suite

BUILD_DIR ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
RUN_DIR ?= $(BUILD_DIR)/example-run

.PHONY: all configure build test run clean test-sanitize fuzz fuzz-smoke

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
	@echo
	cd $(RUN_DIR) && ../pedseg-models --quiet
	@echo
	@echo "Model comparison in $(RUN_DIR): models.tsv (tests), estimates.tsv (estimates, standard errors)."

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer;
# any report fails the run.
SAN_DIR ?= build-sanitize
# -O1 keeps the second build of the suite quick; the sanitizers see the same code paths.
SAN_FLAGS = -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -O1 -g1
test-sanitize:
	cmake -S . -B $(SAN_DIR) -DCMAKE_BUILD_TYPE=None \
	  -DCMAKE_CXX_FLAGS="$(SAN_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SAN_FLAGS)" $(CMAKE_FLAGS)
	cmake --build $(SAN_DIR) -j $(JOBS)
	cd $(SAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# Fuzzing with libFuzzer (clang): every fuzz program runs FUZZ_SECONDS
# seconds; an input that finds a fault is kept in
# $(FUZZ_DIR)/fuzz-artifacts/<name>/.  fuzz-smoke is the short run of CI.
FUZZ_DIR ?= build-fuzz
FUZZ_CXX ?= clang++
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 5
fuzz:
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) -DPEDSEG_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) --target fuzz_targets -j $(JOBS)
	tests/fuzz/run_fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=$(FUZZ_SMOKE_SECONDS)

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR)
