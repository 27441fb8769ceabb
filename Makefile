# Entry points; see README.md.
BUILD_DIR ?= build
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= 2
TSAN_DIR ?= build-tsan
# The copy runs (controller, pipeline, whole runs) and the listing readers again under
# ThreadSanitizer.
TSAN_TESTS ?= BatchControllerTest.*:OfferPipelineTest.*:CopyRunTest.*:ListingReaderTest.*:AddAddressTest.*

.PHONY: all deps configure build test test-tsan bench demo demo-gui screenshots sim clean

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

test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVQ_SANITIZE=thread -DVQ_BUILD_BENCH=OFF -DVQ_BUILD_GUI=OFF
	cmake --build $(TSAN_DIR) -j $(JOBS) --target run_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  $(TSAN_DIR)/tests/run_tests --gtest_filter='$(TSAN_TESTS)'

bench: build
	$(BUILD_DIR)/bench/support_bench --benchmark_counters_tabular=true
	$(BUILD_DIR)/bench/net_bench --benchmark_counters_tabular=true
	$(BUILD_DIR)/bench/copy_bench --latency-ms 0 --latency-ms 20
	# Memory with large pictures: each product one 60 MB main picture.
	$(BUILD_DIR)/bench/copy_bench --products 20 --main-pictures 1 --description-pictures 0 \
	  --picture-bytes 60000000 --latency-ms 0
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

clean:
	rm -rf $(BUILD_DIR) $(TSAN_DIR)
