# The project's front door; see README.md. Every target installs what it needs first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE ?= cmake
# Extra CMake options for $(BUILD) and for `make package`; the build keeps them, e.g.
# make demo CMAKE_ARGS=-DSONTEVA_R8BRAIN_DIR=/path/to/r8brain-free-src
CMAKE_ARGS ?=

.PHONY: all deps build demo gui screenshots test test-asan test-tsan package bench fuzz format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	$(CMAKE) -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
ifneq ($(strip $(CMAKE_ARGS)),)
	$(CMAKE) -S . -B $(BUILD) $(CMAKE_ARGS)
endif
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
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp" ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

# A Debian package (build-package/sonteva_<version>_<arch>.deb) of the programs, manuals,
# completions, desktop entry and metainfo under /usr; its dependencies are worked out from
# the linked libraries. Built apart from $(BUILD), without the tests. Install it with
# `sudo apt-get install ./build-package/sonteva_*.deb`; scripts/check-package tries it out.
package: deps
	$(CMAKE) -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DSONTEVA_BUILD_TESTS=OFF $(CMAKE_ARGS)
	$(CMAKE) --build build-package -j $(JOBS)
	rm -f build-package/sonteva_*.deb
	cd build-package && cpack -G DEB
	@ls build-package/sonteva_*.deb

# Speed figures: engine throughput against libsoxr VHQ and the plain loop, a whole job
# against SoX's command line, and a catalogue through a private Slurm array against one
# process.
bench: deps
	$(CMAKE) -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONTEVA_BUILD_BENCH=ON -DSONTEVA_BUILD_TESTS=OFF
	$(CMAKE) --build build-bench -j $(JOBS)
	build-bench/bin/bench_engines
	build-bench/bin/bench_job
	build-bench/bin/bench_preview
	build-bench/bin/bench_catalogue
	build-bench/bin/bench_measure

# libFuzzer over the parsers that face outside files, FUZZ_SECONDS each, one after the
# other. What a run finds lands in build-fuzz/findings/<target>/; once fixed, it is kept
# under tests/data/hostile/<target>/, which the test suite replays.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= source metadata ssrc_output user_presets
fuzz:
	@scripts/install-deps --fuzz
	CC=clang CXX=clang++ $(CMAKE) -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONTEVA_FUZZ=ON -DSONTEVA_BUILD_TESTS=OFF
	$(CMAKE) --build build-fuzz -j $(JOBS) --target make_seeds $(addprefix fuzz_,$(FUZZ_TARGETS))
	rm -rf build-fuzz/seeds && build-fuzz/bin/make_seeds build-fuzz/seeds
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t build-fuzz/findings/$$t tests/data/hostile/$$t && \
	  build-fuzz/bin/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=25 -rss_limit_mb=4096 \
	    -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/findings/$$t/ \
	    build-fuzz/corpus/$$t build-fuzz/seeds/$$t tests/data/hostile/$$t \
	    > build-fuzz/fuzz-$$t.log 2>&1 || exit 1; \
	  echo "$$t: $$(grep '^#' build-fuzz/fuzz-$$t.log | tail -1)"; \
	  echo "$$t: $$(ls build-fuzz/findings/$$t | wc -l) inputs in build-fuzz/findings/$$t"; \
	done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-asan build-tsan build-bench build-fuzz build-package
