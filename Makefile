# Quick start: `make run` and `make test`. Both install what is missing first.
.PHONY: deps deps-windows build build-windows run run-windows screenshots test clean

deps:
	@scripts/install-deps

deps-windows:
	@scripts/install-deps --windows

build: deps
	cmake --preset linux
	cmake --build --preset linux

build-windows: deps-windows
	cmake --preset windows
	cmake --build --preset windows

run: build
	scripts/run-app build/linux/tavrimo

run-windows: build-windows
	scripts/run-app scripts/wine-run build/windows/tavrimo.exe

screenshots: build build-windows
	scripts/run-app --screenshot docs/screenshot-linux.png --exit build/linux/tavrimo
	scripts/run-app --screenshot docs/screenshot-windows.png --exit \
		scripts/wine-run build/windows/tavrimo.exe

test: build build-windows
	ctest --preset linux -j2
	ctest --preset windows -j2

clean:
	rm -rf build
