# make run   - install what is missing, build, run the tool on its defaults
# make test  - install what is missing, build, run every test
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all setup build test run clean

all: build

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

run: build
	bash scripts/run.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
