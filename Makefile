# Thin wrapper over CMake and CTest. `make test` is all a newcomer needs.
BUILD_DIR ?= build
GENERATOR ?= Ninja
JOBS ?= $(shell nproc)
CMAKE_ARGS ?=

ifeq ($(SANITIZE),1)
BUILD_DIR := build-asan
CMAKE_ARGS += -DLUM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
endif

.PHONY: all deps configure build test demo gui bench fuzz fuzz-smoke format clean

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -G $(GENERATOR) $(CMAKE_ARGS)

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz build-bench
