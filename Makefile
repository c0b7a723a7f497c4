# Thin wrapper around CMake.  `make demo` builds quivrel and mines the bundled
# sample; `make test` builds and runs the whole test suite.  Both first
# install any missing prerequisite (.ci/prereqs.sh, list in .ci/packages.txt).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all prereqs configure build demo test asan clean

all: build

prereqs:
	@bash .ci/prereqs.sh

configure: prereqs
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Only the program itself: the demo needs nothing else.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target quivrel
	@rm -rf $(BUILD)/demo && mkdir -p $(BUILD)/demo
	cp data/sample.bin $(BUILD)/demo/
	cd $(BUILD)/demo && ../quivrel sample.bin 0.1 99
	@echo "---- first lines of $(BUILD)/demo/ClosedMaxset.txt ----"
	@head -n 12 $(BUILD)/demo/ClosedMaxset.txt

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again with address and undefined-behaviour sanitizers.
asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="$(CMAKE_FLAGS) -DQUIVREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

clean:
	rm -rf build build-asan
