# make run   - install what is missing, build, run the tool on its defaults
# make test  - install what is missing, build, run every test
# make sanitize   - every test under ASan+UBSan (build-asan/), then under TSan (build-tsan/)
# make fuzz       - each fuzz target for FUZZ_SECONDS (build-fuzz/, clang + libFuzzer)
# make fuzz-smoke - the same, FUZZ_SMOKE_SECONDS each (the CI round)
# make bench      - build the benchmarks (build-bench/, Release), run them all, print a table
# make bench-smoke - the same build, every benchmark program run once briefly, no target judged
#                    (the CI round: about two minutes)
# make windows      - cross-build for 64-bit Windows (build-win64/), pack dist/tovrik-<version>-win64.zip
#                     and the installer dist/tovrik-<version>-win64-setup.exe
# make windows-test - cross-build the tests and run them under wine64, then the installer's test
# make deb          - the Debian packages tovrik-cli and tovrik (build-deb/), checked by lintian, into dist/
# make deb-test     - those packages installed into a clean Debian 12 root, used, and purged
# make image        - the OCI image tovrik:<version> from Debian packages and the tovrik-cli package
#                     (podman), saved to dist/
# make image-test   - that image loaded and run by podman against receivers on 127.0.0.1
# make containerfile-check - the Containerfile built offline on stand-in bases, then the image test on it
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 10
ASAN_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:strict_init_order=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
WIN_DIR ?= build-win64
TOVRIK_CACHE ?= $(if $(filter 0,$(shell id -u)),/var/cache/tovrik,$(HOME)/.cache/tovrik)
# wine64's loader: /usr/bin/wine or wine64 when a package puts one on PATH,
# else where Debian's wine64 package keeps it.
WINE ?= $(or $(shell command -v wine64 2>/dev/null),$(shell command -v wine 2>/dev/null),/usr/lib/wine/wine64)
# The tests of the image and of the Debian packages need them built first:
# make image-test and make deb-test run them.
CTEST_SKIP_BUILT := -LE '^(image|deb)$$'
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/scripts/tsan.supp

.PHONY: all setup build test run clean sanitize sanitize-asan sanitize-tsan fuzz fuzz-smoke fuzz-build bench \
	bench-build bench-smoke \
	windows-setup windows-configure windows windows-test deb-setup deb deb-test image-setup image image-test \
	containerfile-check

all: build

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest $(CTEST_SKIP_BUILT) --output-on-failure -j $(JOBS)

sanitize: sanitize-asan sanitize-tsan

sanitize-asan: setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIK_SANITIZE=address,undefined,float-cast-overflow $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && $(ASAN_ENV) ctest $(CTEST_SKIP_BUILT) --output-on-failure -j $(JOBS)

sanitize-tsan: setup
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIK_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && $(TSAN_ENV) ctest $(CTEST_SKIP_BUILT) --output-on-failure -j $(JOBS)

fuzz-build: setup
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DTOVRIK_BUILD_FUZZ=ON -DTOVRIK_BUILD_GUI=OFF -DTOVRIK_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz --target tovrik_fuzzers -j $(JOBS)

fuzz: fuzz-build
	bash fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	bash fuzz/run.sh build-fuzz $(FUZZ_SMOKE_SECONDS)

bench-build: setup
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTOVRIK_BUILD_BENCH=ON -DTOVRIK_BUILD_GUI=OFF \
		-DTOVRIK_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS)

bench: bench-build
	python3 bench/run_bench.py --build build-bench

bench-smoke: bench-build
	python3 bench/run_bench.py --build build-bench --smoke

windows-setup:
	@TOVRIK_CACHE=$(TOVRIK_CACHE) bash scripts/setup.sh windows

windows-configure: windows-setup
	cmake -S . -B $(WIN_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=Release -DTOVRIK_BUILD_GUI=OFF \
		-DTOVRIK_SIMDJSON_SOURCE=$(TOVRIK_CACHE)/simdjson-3.0.1 \
		-DTOVRIK_MBEDTLS_MINGW="$$(bash scripts/mbedtls-mingw.sh --prefix $(TOVRIK_CACHE))" $(CMAKE_FLAGS)

windows: windows-configure
	cmake --build $(WIN_DIR) --target windows-zip windows-installer -j $(JOBS)

windows-test: windows-configure
	cmake --build $(WIN_DIR) --target tovrik_tests tovrik_fleet_tests tovrik_receive_tests tovrik_cli_tests \
		tovrik_ui_tests tovrik_window_tests windows-installer -j $(JOBS)
	bash scripts/wine-test.sh $(WIN_DIR) "$(WINE)"

deb-setup:
	@bash scripts/setup.sh deb

deb: deb-setup
	JOBS=$(JOBS) bash scripts/deb.sh build-deb dist

deb-test: deb build
	cd $(BUILD_DIR) && ctest -L '^deb$$' --output-on-failure

image-setup:
	@bash scripts/setup.sh image

image: image-setup deb
	bash scripts/image.sh dist

image-test: image build
	cd $(BUILD_DIR) && ctest -L image --output-on-failure

containerfile-check: image-setup
	bash tests/deploy/containerfile_check.sh

run: build
	bash scripts/run.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
