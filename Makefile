# Thin wrapper over CMake and CTest. `make test` is all a newcomer needs.
BUILD_DIR ?= build
GENERATOR ?= Ninja
JOBS ?= $(shell nproc)
CMAKE_ARGS ?=

ifeq ($(SANITIZE),1)
BUILD_DIR := build-asan
# Line tables are all the sanitizers' stack traces need.
CMAKE_ARGS += -DLUM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1
endif

# ThreadSanitizer: `make test SANITIZE=thread` builds into build-tsan.
TSAN_FLAGS := -fsanitize=thread -fno-omit-frame-pointer
ifeq ($(SANITIZE),thread)
BUILD_DIR := build-tsan
CMAKE_ARGS += "-DCMAKE_C_FLAGS=$(TSAN_FLAGS)" "-DCMAKE_CXX_FLAGS=$(TSAN_FLAGS)" \
	"-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread" "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread"
endif

.PHONY: all deps configure build test demo gui bench bench-chain bench-wave bench-adpcm fuzz fuzz-smoke package format clean bench-waveout bench-waveobject bench-adcvt bench-save bench-convert

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

# Fuzz targets: clang with libFuzzer, AddressSanitizer and UBSan in their own
# build folder. `make fuzz-smoke` runs each target for FUZZ_SECONDS on seeds
# made by fuzz/make-seeds.sh.
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_CFLAGS := -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer

fuzz:
	@./scripts/install-deps.sh clang libclang-rt-14-dev
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G $(GENERATOR) -DLUM_BUILD_FUZZ=ON \
		-DLUM_BUILD_TESTS=OFF "-DCMAKE_C_FLAGS=$(FUZZ_CFLAGS)" "-DCMAKE_CXX_FLAGS=$(FUZZ_CFLAGS)"
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target lum_fuzzers

fuzz-smoke: fuzz
	fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# Benchmarks in their own build folder: the frame-reader walk, the
# extraction against ffmpeg (bench/extract_vs_ffmpeg.sh, RUNS=n for more runs),
# drawing (bench/draw_bench.sh) and opening long MP4, MKV and MPEG-TS files
# (bench/open_vs_ffmpeg.sh).
BENCH_DIR := build-bench

bench: deps
	cmake -S . -B $(BENCH_DIR) -G $(GENERATOR) -DLUM_BUILD_BENCH=ON -DLUM_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target snapreel-cli lum_bench_getdib lum_bench_draw lum_bench_open
	bench/extract_vs_ffmpeg.sh $(BENCH_DIR)/src/app/snapreel-cli $(BENCH_DIR)/bench-media
	bench/draw_bench.sh $(BENCH_DIR)/bench/lum_bench_draw $(BENCH_DIR)/bench-media
	bench/open_vs_ffmpeg.sh $(BENCH_DIR)/bench/lum_bench_open $(BENCH_DIR)/bench-media

# The Debian package of both programs (CPack), in the build folder:
# install it with apt-get install ./build/snapreel_*.deb
package: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target snapreel snapreel-cli
	cd $(BUILD_DIR) && cpack -G DEB

# The sound chain: the cost of one buffer through 1, 4 and 16 members.
bench-chain: deps
	cmake -S . -B $(BENCH_DIR) -G $(GENERATOR) -DLUM_BUILD_BENCH=ON -DLUM_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target lum_bench_chain
	$(BENCH_DIR)/bench/lum_bench_chain

# Wave reading and PCM conversion against ffmpeg on a one-hour file
# (bench/wave_vs_ffmpeg.sh, RUNS=n for more runs).
bench-wave: deps
	cmake -S . -B $(BENCH_DIR) -G $(GENERATOR) -DLUM_BUILD_BENCH=ON -DLUM_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target lum_bench_wave
	bench/wave_vs_ffmpeg.sh $(BENCH_DIR)/bench/lum_bench_wave $(BENCH_DIR)/bench-media

# ADPCM decoding against ffmpeg on 10-minute stereo files
# (bench/adpcm_vs_ffmpeg.sh, RUNS=n for more runs).
bench-adpcm: deps
	cmake -S . -B $(BENCH_DIR) -G $(GENERATOR) -DLUM_BUILD_BENCH=ON -DLUM_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target lum_bench_adpcm
	bench/adpcm_vs_ffmpeg.sh $(BENCH_DIR)/bench/lum_bench_adpcm $(BENCH_DIR)/bench-media

# Wave output headroom on the virtual device: the smallest ring that plays
# a 60-second file without an underrun while a core is busy, and the drift.
bench-waveout: deps
	cmake -S . -B $(BENCH_DIR) -G $(GENERATOR) -DLUM_BUILD_BENCH=ON -DLUM_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target lum_bench_waveout
	$(BENCH_DIR)/bench/lum_bench_waveout

bench-waveobject: deps
	cmake -S . -B $(BENCH_DIR) -G $(GENERATOR) -DLUM_BUILD_BENCH=ON -DLUM_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target lum_bench_waveobject
	bench/waveobject_vs_ffmpeg.sh $(BENCH_DIR)/bench/lum_bench_waveobject $(BENCH_DIR)/bench-media

# ADPCM decoding in the sound chain while a 10-minute file plays: the chain
# alone, and lum wave play's load meter and /usr/bin/time against PCM.
bench-adcvt: deps
	cmake -S . -B $(BENCH_DIR) -G $(GENERATOR) -DLUM_BUILD_BENCH=ON -DLUM_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target lum_bench_adcvt lum lumacm
	bench/adcvt_play.sh $(BENCH_DIR)/bench/lum_bench_adcvt $(BENCH_DIR)/src/tools/lum $(BENCH_DIR)/bench-media

# Converting a one-hour WAV to IMA ADPCM with lum wave convert against ffmpeg
# (bench/convert_vs_ffmpeg.sh, RUNS=n for more runs).
bench-convert: deps
	cmake -S . -B $(BENCH_DIR) -G $(GENERATOR) -DLUM_BUILD_BENCH=ON -DLUM_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target lum lumacm
	bench/convert_vs_ffmpeg.sh $(BENCH_DIR)/src/tools/lum $(BENCH_DIR)/bench-media

# Saving a 1280x720 clip of 3000 frames with MJPEG and FFV1 against ffmpeg
# (bench/save_vs_ffmpeg.sh, RUNS=n for more runs).
bench-save: deps
	cmake -S . -B $(BENCH_DIR) -G $(GENERATOR) -DLUM_BUILD_BENCH=ON -DLUM_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target lum
	bench/save_vs_ffmpeg.sh $(BENCH_DIR)/src/tools/lum $(BENCH_DIR)/bench-media

SAMPLE ?= samples/snapreel-sample.avi
STILLS ?= stills

# Extracts the bundled sample into ./stills with the window's defaults.
demo: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target snapreel-cli
	$(BUILD_DIR)/src/app/snapreel-cli extract $(SAMPLE) -o $(STILLS)
	@echo "Wrote into $(STILLS)/:"
	@ls -l $(STILLS)

# Starts the Snapreel window.
gui: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target snapreel
	$(BUILD_DIR)/src/app/snapreel

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz build-bench
