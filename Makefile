# make run   - install what is missing, build, run the tool on its defaults
# make test  - install what is missing, build, run every test
# make sanitize   - every test under ASan+UBSan (build-asan/), then under TSan (build-tsan/)
# make fuzz       - each fuzz target for FUZZ_SECONDS (build-fuzz/, clang + libFuzzer)
# make fuzz-smoke - the same, FUZZ_SMOKE_SECONDS each (the CI round)
# make bench      - build the benchmarks (build-bench/, Release), run them all, print a table
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 10
ASAN_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:strict_init_order=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/scripts/tsan.supp

.PHONY: all setup build test run clean sanitize sanitize-asan sanitize-tsan fuzz fuzz-smoke fuzz-build bench

all: build

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

sanitize: sanitize-asan sanitize-tsan

sanitize-asan: setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIK_SANITIZE=address,undefined,float-cast-overflow $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && $(ASAN_ENV) ctest --output-on-failure -j $(JOBS)

sanitize-tsan: setup
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIK_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && $(TSAN_ENV) ctest --output-on-failure -j $(JOBS)

fuzz-build: setup
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DTOVRIK_BUILD_FUZZ=ON -DTOVRIK_BUILD_GUI=OFF -DTOVRIK_BUILD_TESTS=OFF
	cmake --build build-fuzz --target tovrik_fuzzers -j $(JOBS)

fuzz: fuzz-build
	bash fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	bash fuzz/run.sh build-fuzz $(FUZZ_SMOKE_SECONDS)

bench: setup
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTOVRIK_BUILD_BENCH=ON -DTOVRIK_BUILD_GUI=OFF \
		-DTOVRIK_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	python3 bench/run_bench.py --build build-bench

run: build
	bash scripts/run.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
