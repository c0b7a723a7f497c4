# Thin wrapper around CMake.  `make demo` builds quivrel and mines the bundled
# sample; `make test` builds and runs the whole test suite.  Both first
# install any missing prerequisite (.ci/prereqs.sh, list in .ci/packages.txt).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all prereqs configure build demo test asan tsan clean

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

# The in-process tests (unit, integration, the fuzz corpus replay) under the
# thread sanitizer: the progress line's thread runs beside the mining.  The
# end-to-end cases run the binary on multi-gigabyte sparse files, which the
# sanitizer's shadow memory would multiply, so they stay with make test.
# A failed allocation is a tested path: the sanitizer returns null for it.
tsan: prereqs
	cmake -S . -B build-tsan $(CMAKE_FLAGS) -DQUIVREL_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=allocator_may_return_null=1 \
		ctest --output-on-failure -j $(JOBS) -E '^(e2e|tools)\.'

clean:
	rm -rf build build-asan build-tsan
