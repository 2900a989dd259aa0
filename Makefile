# Thin wrapper around CMake for everyday use.
#   make         Release build into build/
#   make test    build, then run every test
#   make install build, then install the engine and its manual page under
#                PREFIX (default /usr/local)
#   make bench   build, then print the speed figures: perft depth 6 from the
#                start position, evaluations per second (warm and cold caches)
#                and the search bench (nodes per second)
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
	@printf 'uci\nposition startpos\nperft depth 6\nquit\n' | ./$(BUILD_DIR)/korvane | \
	  awk '/^info depth 6 / { ms = ($$5 > 0 ? $$5 : 1); \
	    printf "perft depth 6: %s nodes in %s ms, %.0f nodes/s\n", $$7, $$5, $$7 * 1000 / ms }'
	@./$(BUILD_DIR)/korvane_evalbench
	@printf 'uci\nbench\nquit\n' | ./$(BUILD_DIR)/korvane | sed -n 's/^info string bench/search bench:/p'

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
