# Entry points; see README.md.
BUILD_DIR ?= build
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= $(shell nproc)
TSAN_DIR ?= build-tsan
# The suites labelled "threaded" (tests/CMakeLists.txt) again under ThreadSanitizer.
# The unit, stand-in and run suites again under AddressSanitizer and
# UndefinedBehaviorSanitizer, built with clang, which also keeps the project building with it.
ASAN_DIR ?= build-asan
SANITIZER_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVQ_BUILD_BENCH=OFF -DVQ_BUILD_GUI=OFF
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= xml_document listing_scanner list_file ini_file package_row description \
  package_check product_answer

.PHONY: all deps configure build test test-ctest test-tsan test-asan fuzz bench demo demo-gui screenshots sim clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Every stage runs, whatever the one before gave; the end says which failed.
test: deps
	scripts/test-stages ctest tsan asan

test-ctest: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B $(TSAN_DIR) $(SANITIZER_FLAGS) -DVQ_SANITIZE=thread
	cmake --build $(TSAN_DIR) -j $(JOBS) --target threaded_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --test-dir $(TSAN_DIR) -L threaded --output-on-failure -j $(JOBS)

test-asan: deps
	CC=clang CXX=clang++ cmake -S . -B $(ASAN_DIR) $(SANITIZER_FLAGS) -DVQ_SANITIZE=address,undefined
	cmake --build $(ASAN_DIR) -j $(JOBS)
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1 \
	  ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS from its seed corpus; a crash fails it (scripts/fuzz).
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVQ_BUILD_FUZZ=ON -DVQ_SANITIZE=fuzzer-no-link,address,undefined \
	  -DVQ_BUILD_BENCH=OFF -DVQ_BUILD_GUI=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(FUZZ_TARGETS:%=%_fuzz)
	scripts/fuzz $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

bench: build
	$(BUILD_DIR)/bench/support_bench --benchmark_counters_tabular=true
	$(BUILD_DIR)/bench/net_bench --benchmark_counters_tabular=true
	$(BUILD_DIR)/bench/copy_bench --latency-ms 0 --latency-ms 20
	# Memory with large pictures: each product one 60 MB main picture.
	$(BUILD_DIR)/bench/copy_bench --products 20 --main-pictures 1 --description-pictures 0 \
	  --picture-bytes 60000000 --latency-ms 0
	$(BUILD_DIR)/bench/append_bench
	$(BUILD_DIR)/bench/soak_bench --latency-ms 20
	$(BUILD_DIR)/bench/listing_bench --latency-ms 0 --latency-ms 20

demo: build
	scripts/demo $(BUILD_DIR)

demo-gui: build
	scripts/demo-gui $(BUILD_DIR)

# The window's pictures in docs/screenshots, taken under a virtual display.
screenshots: build
	xvfb-run -a -s "-screen 0 1280x800x24" \
	  $(BUILD_DIR)/tools/screenshots/vq-screenshots --out $(CURDIR)/docs/screenshots

sim: build
	mkdir -p $(BUILD_DIR)/sim/options
	$(BUILD_DIR)/tools/marketplace-sim/marketplace-sim --port 0 --site-ini $(BUILD_DIR)/sim/options/site.ini

# The Debian package (CPack, cmake/Packaging.cmake) in $(BUILD_DIR); ctest's package.deb tries it.
.PHONY: package
package: build
	cmake --build $(BUILD_DIR) --target package

clean:
	rm -rf $(BUILD_DIR) $(TSAN_DIR) $(ASAN_DIR) $(FUZZ_DIR)
