# Thin wrapper around CMake.  `make demo` builds quivrel and mines the bundled
# sample; `make test` builds and runs the whole test suite.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all build demo test asan clean

all: build

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@rm -rf $(BUILD)/demo && mkdir -p $(BUILD)/demo
	cp data/sample.bin $(BUILD)/demo/
	cd $(BUILD)/demo && ../quivrel sample.bin 0.1 99
	@echo "---- first lines of $(BUILD)/demo/ClosedMaxset.txt ----"
	@head -n 12 $(BUILD)/demo/ClosedMaxset.txt

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again with address and undefined-behaviour sanitizers.
asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DQUIVREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

clean:
	rm -rf build build-asan
