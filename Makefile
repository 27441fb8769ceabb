# Entry points; see README.md.
BUILD_DIR ?= build
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= 2
TSAN_DIR ?= build-tsan
# The copy runs (controller, pipeline, whole runs) and the listing readers again under
# ThreadSanitizer.
TSAN_TESTS ?= BatchControllerTest.*:OfferPipelineTest.*:CopyRunTest.*:ListingReaderTest.*:AddAddressTest.*
# The unit and run suites again under AddressSanitizer and UndefinedBehaviorSanitizer, built
# with clang, which also keeps the project building with it.
ASAN_DIR ?= build-asan
ASAN_SUITES ?= support_tests api_tests model_tests app_tests content_tests output_tests source_tests \
  net_tests run_tests
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= xml_document listing_scanner list_file ini_file package_row description

.PHONY: all deps configure build test test-tsan test-asan fuzz bench demo demo-gui screenshots sim clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory test-tsan
	$(MAKE) --no-print-directory test-asan

test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVQ_SANITIZE=thread -DVQ_BUILD_BENCH=OFF -DVQ_BUILD_GUI=OFF
	cmake --build $(TSAN_DIR) -j $(JOBS) --target run_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  $(TSAN_DIR)/tests/run_tests --gtest_filter='$(TSAN_TESTS)'

test-asan: deps
	CC=clang CXX=clang++ cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVQ_SANITIZE=address,undefined -DVQ_BUILD_BENCH=OFF -DVQ_BUILD_GUI=OFF
	cmake --build $(ASAN_DIR) -j $(JOBS) --target $(ASAN_SUITES)
	for suite in $(ASAN_SUITES); do \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1 \
	    $(ASAN_DIR)/tests/$$suite --gtest_brief=1 || exit 1; \
	done

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
