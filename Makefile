# The two commands of a fresh machine: `make run` and `make test`. Both install
# the Debian packages that are missing, then build with the CMake presets.

SAMPLES := samples/CliffNatural0
SAMPLES_OUT := build/samples/CliffNatural0_2x

.PHONY: run test deps

deps:
	scripts/install-deps.sh

run: deps
	cmake --preset release
	cmake --build --preset release
	mkdir -p build/samples
	build/release/cli/vendrake-cli --source $(SAMPLES) --dest $(SAMPLES_OUT) --scale 2 --report

test: deps
	cmake --preset dev
	cmake --build --preset dev
	ctest --preset dev
