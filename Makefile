# The two commands of the README. Each does all its own set-up on a fresh Debian 12 machine.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Debug -DTAVROLIN_SANITIZE=ON
ifdef CI
CMAKE_FLAGS += -DTAVROLIN_WERROR=ON
endif

.PHONY: deps configure build test run bench clean

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	tests/support/desktop-session.sh ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) --timeout 600

run: build
	scripts/run.sh

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do [ -x "$$b" ] && tests/support/desktop-session.sh "$$b"; done

clean:
	rm -rf $(BUILD_DIR)
