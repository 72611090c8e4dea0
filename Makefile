# The project's front door; see README.md. Every target installs what it needs first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE ?= cmake

.PHONY: all deps build demo gui screenshots test test-asan test-tsan bench format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	$(CMAKE) -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release

build: deps $(BUILD)/build.ninja
	$(CMAKE) --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/bin/sonteva demo

gui: build
	$(BUILD)/bin/sonteva-gui

# The real application under Xvfb stages the window's states and saves each as a PNG.
screenshots: build
	rm -rf $(BUILD)/screenshots
	xvfb-run -a -s "-screen 0 1600x1200x24" $(BUILD)/bin/sonteva-gui --screenshots $(BUILD)/screenshots

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	$(CMAKE) -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONTEVA_SANITIZE=ON
	$(CMAKE) --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

# The batch runner, the queue and the preview transport under ThreadSanitizer.
test-tsan: deps
	$(CMAKE) -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONTEVA_TSAN=ON -DSONTEVA_TEST_LAYERS="model;batch;preview"
	$(CMAKE) --build build-tsan -j $(JOBS) --target test_batch test_model test_preview
	ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

# Speed figures: engine throughput against libsoxr VHQ and the plain loop, and a whole
# job against SoX's command line.
bench: deps
	$(CMAKE) -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONTEVA_BUILD_BENCH=ON -DSONTEVA_BUILD_TESTS=OFF
	$(CMAKE) --build build-bench -j $(JOBS)
	build-bench/bin/bench_engines
	build-bench/bin/bench_job
	build-bench/bin/bench_preview

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-asan build-tsan build-bench
