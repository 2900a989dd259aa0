# Thin wrapper around CMake for everyday use.
#   make         Release build into build/
#   make test    build, then run every test
#   make bench   build, then print the speed figures (bench/speed.sh): nodes
#                per second beside Glaurung's, perft depth 6 beside
#                Stockfish's, start-up time, peak memory, evaluations per
#                second and the search bench

BUILD_DIR ?= build
JOBS ?= 2

.PHONY: all build test bench clean

all: build

build:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j$(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

bench: build
	@bench/speed.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
