# Thin wrapper around CMake for everyday use.
#   make         Release build into build/
#   make test    build, then run every test
#   make install build, then install the engine and its manual page under
#                PREFIX (default /usr/local)
#   make bench   build, then print the speed figures: perft depth 6 from the
#                start position, evaluations per second (warm and cold caches)
#                and the search bench (nodes per second)

BUILD_DIR ?= build
JOBS ?= 2
PREFIX ?= /usr/local

.PHONY: all build test bench install clean

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

clean:
	rm -rf $(BUILD_DIR)
