# SPDX-License-Identifier: Apache-2.0
# Short commands for the usual jobs. Every target installs missing Debian packages first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build test demo package package-test asan-test tsan-test tidy clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Builds everything and runs every test through CTest (the SDK consumer included).
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The main job: render the built-in sample set, detect the marker in every shot, calibrate, and compare
# with the sample's ground truth.
demo: build
	$(BUILD)/tools/tarn/tarn demo

# The Debian packages: tarn (programs), libtarn2 (libraries), libtarn-dev (headers, CMake package),
# python3-tarn, tarn-doc (manual), each stripped with a -dbgsym package of its debug symbols.
package: build
	cd $(BUILD) && cpack -G DEB

# The packages installed into a fresh Debian root made from the archive: the demo, the Python module and
# the SDK example built with find_package(Tarn) from libtarn-dev alone.
package-test: package
	tests/packaging/fresh-root.sh $(BUILD)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer, the desktop program's and the
# Python module's among them.
asan-test: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DTARN_SANITIZE="address;undefined" -DTARN_SDK_TEST=OFF -DTARN_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The libraries' tests under ThreadSanitizer, the concurrent calls of every exported function among them.
# The desktop program and the command line are single-threaded and stay out of this build.
tsan-test: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARN_SANITIZE=thread \
	  -DTARN_BUILD_APP=OFF -DTARN_BUILD_TOOLS=OFF -DTARN_SDK_TEST=OFF -DTARN_BUILD_BENCH=OFF -DTARN_BUILD_PYTHON=OFF \
	  $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS)

# Function size and complexity (.clang-tidy) over the product code; a warning names a function to split.
tidy: build
	run-clang-tidy -p $(BUILD) -quiet -j $(JOBS) '$(CURDIR)/(handeye|workflow|sim|app|tools|Modules|python)/.*\.cpp$$'

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
