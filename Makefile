# The two commands of a fresh machine: `make run` and `make test`. Both install
# the Debian packages that are missing, then build with the CMake presets.

SAMPLES := samples/CliffNatural0
SAMPLES_OUT := build/samples/CliffNatural0_2x

.PHONY: run test deps screenshot

deps:
	scripts/install-deps.sh

# With a display, the window; without one, the console front end on the samples.
run: deps
	cmake --preset release
	cmake --build --preset release
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo build/release/window/vendrake; \
	  build/release/window/vendrake; \
	else \
	  echo "No display is available (DISPLAY and WAYLAND_DISPLAY are unset);" \
	    "scaling the sample models with vendrake-cli instead."; \
	  mkdir -p build/samples; \
	  echo build/release/cli/vendrake-cli --source $(SAMPLES) --dest $(SAMPLES_OUT) --scale 2 --report; \
	  build/release/cli/vendrake-cli --source $(SAMPLES) --dest $(SAMPLES_OUT) --scale 2 --report; \
	fi

test: deps
	cmake --preset dev
	cmake --build --preset dev
	ctest --preset dev

# Redraws docs/window.png from the real window, at twice the usual density; no
# display needed.
screenshot: deps
	cmake --preset dev
	cmake --build --preset dev --target vendrake-grab-window
	QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 build/dev/window/vendrake-grab-window docs/window.png
	QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 build/dev/window/vendrake-grab-window --details docs/summary-details.png

# Packages for release, gathered in dist/; each kind of package is one more
# prerequisite of `dist`.
.PHONY: dist dist-deb dist-zip

dist: dist-deb dist-zip

# vendrake-cli_<version>_amd64.deb (the console front end, without Qt) and
# vendrake_<version>_amd64.deb (the window), from the release build: only the
# two programs and what the packages carry beside them are built. The
# packages' maintainer is VENDRAKE_MAINTAINER, when set (packaging/package.cmake).
dist-deb:
	scripts/install-deps.sh dist
	cmake --preset release
	cmake --build --preset release --target vendrake vendrake-cli vendrake-package-files
	rm -rf build/release/packages
	cpack --preset deb
	mkdir -p dist
	rm -f dist/vendrake_*.deb dist/vendrake-cli_*.deb
	cp build/release/packages/vendrake_*.deb build/release/packages/vendrake-cli_*.deb dist/

# vendrake-<version>-win64.zip, from the Windows build of the two programs
# alone, without the tests and GoogleTest.
dist-zip:
	scripts/install-deps.sh windows dist
	cmake --preset windows
	cmake --build --preset windows --target vendrake vendrake-cli
	scripts/make-zip.sh build/windows dist

# Beyond `make run` and `make test`: benchmarks, fuzzing, the sanitizer build and
# the format check, each installing the packages it needs first.
FUZZ_SECONDS ?= 60
FUZZ_DIR := build/fuzz

.PHONY: bench fuzz asan tsan format-check windows windows-test windows-screenshot

bench:
	scripts/install-deps.sh bench
	cmake --preset bench
	cmake --build --preset bench
	build/bench/bench/vendrake_scale_heights_bench --benchmark_repetitions=5 \
	  --benchmark_report_aggregates_only=true
	bench/batch_bench.sh build/bench
	bench/latency_bench.sh build/bench

fuzz:
	scripts/install-deps.sh fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz
	rm -rf $(FUZZ_DIR)/seeds
	fuzz/make_seeds.sh $(FUZZ_DIR)/tools/vendrake-make-samples $(FUZZ_DIR)/seeds
	mkdir -p $(FUZZ_DIR)/corpus
	$(FUZZ_DIR)/fuzz/vendrake_convert_file_fuzzer -max_total_time=$(FUZZ_SECONDS) \
	  -max_len=131084 -timeout=10 -dict=fuzz/convert_file.dict -print_final_stats=1 \
	  -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus $(FUZZ_DIR)/seeds

asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# The engine and console tests, whose runs stage files on several threads,
# under ThreadSanitizer (no window: Qt is not built for it). Left out: the
# signal tests, whose handlers it holds back, and the sweep that fails each
# system call once, whose child processes start threads after a fork, which
# it does not support.
tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# The differential test at length: runs of random folders at 1, 2 and 8 jobs
# and as dry runs, compared line by line, on SEEDS seeds (the tests run 300).
SEEDS ?= 1000

.PHONY: differential
differential: deps
	cmake --preset dev
	cmake --build --preset dev --target vendrake_engine_tests
	VENDRAKE_DIFFERENTIAL_SEEDS=$(SEEDS) build/dev/tests/vendrake_engine_tests \
	  --gtest_filter='GroupSizeDifferential.*'

format-check:
	scripts/install-deps.sh check
	git ls-files --cached --others --exclude-standard -- '*.h' '*.cpp' \
	  | xargs -r clang-format --dry-run --Werror

# Cuts the power under runs of vendrake-cli on a loop-mounted ext4 image and
# checks every output (scripts/crash-test.sh). Needs root; where the machine
# allows no loop mount it prints "crash test SKIPPED: <reason>" and exits 77,
# which make reports as an error. The dev build is the one `make test` builds.
.PHONY: crash-test crash-test-build

crash-test-build:
	scripts/install-deps.sh crash
	cmake --preset dev
	cmake --build --preset dev --target vendrake-cli vendrake-make-samples

crash-test: crash-test-build
	scripts/crash-test.sh build/dev

# vendrake-cli.exe for 64-bit Windows, cross-built with mingw-w64 and linked
# statically; its tests run under Wine.
windows:
	scripts/install-deps.sh windows
	cmake --preset windows
	cmake --build --preset windows

# Redraws docs/window-windows.png from vendrake.exe under Wine, at twice the
# usual density.
windows-screenshot: windows
	scripts/install-deps.sh winshot
	scripts/windows-screenshot.sh build/windows docs/window-windows.png

# The Linux build's vendrake-cli is what the Windows outputs are compared with;
# Wine draws vendrake.exe's window on a virtual X display.
windows-test: windows
	cmake --preset dev
	cmake --build --preset dev --target vendrake-cli
	xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset windows
	scripts/check-test-count.sh build/windows
