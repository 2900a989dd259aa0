# Thin wrapper around CMake for everyday use.
#   make         Release build into build/
#   make test    build, then run every test
#   make install build, then install the engine and its manual page under
#                PREFIX (default /usr/local)
#   make bench   build, then print the speed figures (bench/speed.sh): nodes
#                per second beside Glaurung's, perft depth 6 beside
#                Stockfish's, start-up time, peak memory, evaluations per
#                second and the search bench
#   make fuzz    build the fuzz targets with clang into build-fuzz/ and run
#                each for FUZZ_TIME seconds (default 60)

BUILD_DIR ?= build
JOBS ?= 2
PREFIX ?= /usr/local
FUZZ_DIR ?= build-fuzz
FUZZ_TIME ?= 60

.PHONY: all build test bench install fuzz clean

all: build

build:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j$(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

bench: build
	@bench/speed.sh $(BUILD_DIR)

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# One instrumented build of the engine library (-O1, ASan, UBSan, libFuzzer
# coverage) shared by all targets.
fuzz:
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DKORVANE_FUZZ=ON -DKORVANE_TESTS=OFF \
	  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"
	cmake --build $(FUZZ_DIR) -j$(JOBS) --target fuzz_targets
	fuzz/run $(FUZZ_DIR) $(FUZZ_TIME)

clean:
	rm -rf $(BUILD_DIR)
