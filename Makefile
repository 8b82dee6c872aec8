# The two commands: `make run` plays the show, `make test` runs the tests.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test build data bench capture deps configure asan asan-unit tsan clean

run: build data
	./$(BUILD)/velkor

test: build data
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

deps:
	@sh tools/install-deps.sh

# CMake runs when the build folder is new, and again whenever CMAKE_FLAGS is
# given, so that flags reach a folder configured before.
configure: deps
	@if [ ! -f $(BUILD)/build.ninja ] || [ -n "$(strip $(CMAKE_FLAGS))" ]; then \
	  cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS); \
	fi

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# DATA/ is generated when missing or older than the generator.
data: build
	@if [ -x $(BUILD)/assetgen ] && { [ ! -f DATA/.complete ] || [ $(BUILD)/assetgen -nt DATA/.complete ]; }; then \
	  ./$(BUILD)/assetgen DATA; \
	fi

bench: build data
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done

capture: build data
	./$(BUILD)/velkor-capture --out show.mkv --scale 2.25 --aa

asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DVELKOR_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug"

# The unit tests under ASan + UBSan, without the runs of the whole show
# (minutes each under the sanitizers; `make asan` runs them too).
WHOLE_SHOW = ^WholeShow\.|^Data\.TwoRuns
asan-unit: data
	$(MAKE) build BUILD=build-asan CMAKE_FLAGS="-DVELKOR_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug"
	ctest --test-dir build-asan --output-on-failure -j $(JOBS) -E '$(WHOLE_SHOW)'

tsan:
	$(MAKE) test BUILD=build-tsan CMAKE_FLAGS="-DVELKOR_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo"

clean:
	rm -rf build build-asan build-tsan
