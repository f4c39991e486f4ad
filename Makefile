# Set-up commands (each first installs what a Debian or Ubuntu machine lacks,
# see scripts/install-deps.sh):
#   make run      build the analysis programs and run them on the bundled example
#   make test     build everything and run the whole test suite
#   make install  install the programs into $(PREFIX)/bin

BUILD_DIR ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
RUN_DIR ?= $(BUILD_DIR)/example-run
PREFIX ?= /usr/local

.PHONY: all configure build test configure-programs run install clean test-sanitize fuzz fuzz-smoke

all: build

# The tests are configured only for the builds that run them.
configure:
	scripts/install-deps.sh test
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DPEDSEG_TESTS=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

configure-programs:
	scripts/install-deps.sh run
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DPEDSEG_TESTS=OFF $(CMAKE_FLAGS)

# pedseg, then pedseg-models where it is part of the build.
run: configure-programs
	cmake --build $(BUILD_DIR) -j $(JOBS) --target run_programs
	rm -rf $(RUN_DIR) && mkdir -p $(RUN_DIR)
	cp examples/* $(RUN_DIR)/
	$(BUILD_DIR)/pedseg $(RUN_DIR)
	@models=$$(grep '/pedseg-models$$' $(BUILD_DIR)/run_programs.txt || true); \
	if [ -n "$$models" ] && [ -x "$$models" ]; then \
	  echo; echo "pedseg-models $(RUN_DIR)"; cd $(RUN_DIR) && "$$models" --quiet; fi
	@echo
	@echo "Results are in $(RUN_DIR): sigma.dat (estimates), max.dat (progress), par.err (problems);"
	@echo "models.tsv and estimates.tsv (the model comparison), mixture.svg and mixture.tsv (the fit)"; \
	  echo "when pedseg-models ran."

install: configure-programs
	cmake --build $(BUILD_DIR) -j $(JOBS) --target programs
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer;
# any report fails the run.
SAN_DIR ?= build-sanitize
# -O1 keeps the second build of the suite quick; the sanitizers see the same code paths.
SAN_FLAGS = -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -O1 -g1
# Whole tables of fits (seconds each in the release build, tens of minutes
# under the sanitizers) run in `make test` only; the one-start fits, the
# closed-form fits and the usage errors exercise the same code here.
SAN_SKIP ?= ^(ModelsProgram\.PosteriorsProfileAndFigures|ModelsProfiles\..*|Models\.(ProfileAboveTheMaximumRefits|NestingOrderOnTheExample|OneLabellingOfTheGenotypes|SimulatedMajorGeneIsFound)|Bootstrap\..*|ModelsAnalysis\..*)$$
test-sanitize:
	scripts/install-deps.sh test
	cmake -S . -B $(SAN_DIR) -DCMAKE_BUILD_TYPE=None \
	  -DCMAKE_CXX_FLAGS="$(SAN_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SAN_FLAGS)" $(CMAKE_FLAGS)
	cmake --build $(SAN_DIR) -j $(JOBS)
	cd $(SAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS) \
	  -E '$(SAN_SKIP)'

# Fuzzing with libFuzzer (clang): every fuzz program runs FUZZ_SECONDS
# seconds; an input that finds a fault is kept in
# $(FUZZ_DIR)/fuzz-artifacts/<name>/.  fuzz-smoke is the short run of CI.
FUZZ_DIR ?= build-fuzz
FUZZ_CXX ?= clang++
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 5
fuzz:
	scripts/install-deps.sh ci
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) -DPEDSEG_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) --target fuzz_targets -j $(JOBS)
	tests/fuzz/run_fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=$(FUZZ_SMOKE_SECONDS)

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR)
