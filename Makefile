# The two commands: `make run` plays the show, `make test` runs the tests.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test build data bench capture capture-4k deps configure asan asan-unit tsan clean arm64 test-arm64 web serve-web test-web web-tests bench-web

run: build data
	./$(BUILD)/velkor

# The browser tests run too when the web build is there (`make web`).
test: build data
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@if [ -f $(WEB_BUILD)/velkor-web.js ]; then $(MAKE) --no-print-directory web-tests; fi

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

# The same at 2880 x 2160, the 4:3 part of a 3840 x 2160 screen.
capture-4k: build data
	./$(BUILD)/velkor-capture --out show-4k.mkv --scale 4.5 --aa

asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DVELKOR_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug"

# The unit tests under ASan + UBSan, without the runs of the whole show
# (minutes each under the sanitizers, or in real time; `make asan` runs them too).
WHOLE_SHOW = ^WholeShow\.|^Data\.TwoRuns|^NullBackend\.
asan-unit: data
	$(MAKE) build BUILD=build-asan CMAKE_FLAGS="-DVELKOR_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug"
	ctest --test-dir build-asan --output-on-failure -j $(JOBS) -E '$(WHOLE_SHOW)'

tsan:
	$(MAKE) test BUILD=build-tsan CMAKE_FLAGS="-DVELKOR_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo"

# 64-bit ARM (aarch64-linux-gnu): a cross build with Debian's cross compiler
# and the arm64 builds of the libraries (multiarch), in its own folder. Its
# tests (without the runs of the whole show) run under qemu's user-mode
# emulator, and so does a 40-second capture, whose trace and shots are
# compared with the native build's (tools/compare-arm64.py).
ARM64_BUILD ?= build-arm64

arm64:
	@sh tools/install-deps-arm64.sh
	@if [ ! -f $(ARM64_BUILD)/build.ninja ] || [ -n "$(strip $(CMAKE_FLAGS))" ]; then \
	  cmake -S . -B $(ARM64_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake $(CMAKE_FLAGS); \
	fi
	cmake --build $(ARM64_BUILD) -j $(JOBS)

test-arm64: arm64 data
	@status=0; \
	ctest --test-dir $(ARM64_BUILD) --output-on-failure -j $(JOBS) -E '$(WHOLE_SHOW)' || status=1; \
	python3 tools/compare-arm64.py --native $(BUILD) --arm64 $(ARM64_BUILD) --out $(ARM64_BUILD)/compare || status=1; \
	exit $$status

# The browser: the show built to WebAssembly with emscripten into build-web/
# (the page, its programs and DATA/), against mpg123, libjpeg-turbo,
# libsndfile, FreeType, zlib and libpng built from Debian's sources into
# WEB_DEPS once. `make serve-web` serves it on 127.0.0.1 (PORT, default 8000)
# with the headers its threads need.
WEB_BUILD ?= build-web
WEB_DEPS ?= $(WEB_BUILD)/deps
PORT ?= 8000
WEB_ENV = NODE_PATH=/usr/share/nodejs NODE_OPTIONS=--no-experimental-fetch

web: data
	@sh tools/web/build-deps.sh $(WEB_DEPS)
	@if [ ! -f $(WEB_BUILD)/build.ninja ] || [ -n "$(strip $(CMAKE_FLAGS))" ]; then \
	  $(WEB_ENV) emcmake cmake -S . -B $(WEB_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node -DVELKOR_WEB_DEPS=$(abspath $(WEB_DEPS))/prefix $(CMAKE_FLAGS); \
	fi
	$(WEB_ENV) cmake --build $(WEB_BUILD) -j $(JOBS)

# The browser tests: headless Chromium (Debian's) driven by puppeteer-core,
# installed into WEB_NODE when missing.
WEB_NODE ?= $(WEB_BUILD)/node
test-web: web web-tests

web-tests:
	@sh tools/web/install-browser.sh $(WEB_NODE)
	@if [ -f $(WEB_BUILD)/test-rm-web.js ]; then echo "test-rm-web (the rasterizer's tests in wasm)"; \
	  (cd $(CURDIR) && $(WEB_ENV) node $(WEB_BUILD)/test-rm-web.js --gtest_brief=1) || exit 1; fi
	WEB_NODE_DIR=$(WEB_NODE) node tests/web/test_page.mjs $(WEB_BUILD) $(BUILD)

# The 3D pass in wasm (node, headless Chromium) against the native one, then
# the whole show live in Chromium counting the pictures that came late.
bench-web: build web
	@sh tools/web/install-browser.sh $(WEB_NODE)
	WEB_NODE_DIR=$(WEB_NODE) node tools/web/bench-render.mjs
	WEB_NODE_DIR=$(WEB_NODE) node tools/web/bench-live.mjs $(WEB_BUILD)

serve-web:
	@test -f $(WEB_BUILD)/index.html || { echo "No page in $(WEB_BUILD)/: build it with make web" >&2; exit 1; }
	PORT=$(PORT) python3 tools/web/serve.py $(WEB_BUILD)

# The web build goes, but not the wasm libraries it keeps in build-web/deps.
clean:
	rm -rf $(BUILD) build-asan build-tsan $(ARM64_BUILD)
	@if [ -d $(WEB_BUILD) ]; then find $(WEB_BUILD) -mindepth 1 -maxdepth 1 ! -name deps -exec rm -rf {} +; fi
