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
