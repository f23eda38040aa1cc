# Quick start: `make run` and `make test`. Both install what is missing first.
.PHONY: deps build run screenshot test clean

deps:
	@scripts/install-deps

build: deps
	cmake --preset linux
	cmake --build --preset linux

run: build
	scripts/run-app build/linux/tavrimo

screenshot: build
	scripts/run-app --screenshot docs/screenshot-linux.png --exit build/linux/tavrimo

test: build
	ctest --preset linux -j2

clean:
	rm -rf build
