# Quick start: `make run` and `make test`. Both install what is missing first:
# `run` what building and running need, `test` also what the tests start.
.PHONY: deps deps-test deps-windows roots build build-tests build-windows build-sanitize build-fuzz fuzz run run-windows screenshots test package install uninstall bench clean

deps:
	@scripts/install-deps

deps-test:
	@scripts/install-deps --test --windows

deps-windows:
	@scripts/install-deps --windows

# The program alone; the tests need packages that running does not.
build: deps
	cmake --preset linux -DTAVRIMO_BUILD_TESTS=OFF
	cmake --build --preset linux

build-tests: deps-test
	cmake --preset linux -DTAVRIMO_BUILD_TESTS=ON
	cmake --build --preset linux

build-windows: deps-windows
	cmake --preset windows
	cmake --build --preset windows

run: build
	scripts/run-app build/linux/tavrimo

run-windows: build-windows
	scripts/run-app scripts/wine-run build/windows/tavrimo.exe

screenshots: build-tests build-windows
	scripts/run-app --screenshot docs/screenshot-linux.png --exit build/linux/tavrimo
	scripts/run-app --screenshot docs/screenshot-windows.png --exit \
		scripts/wine-run build/windows/tavrimo.exe

build-sanitize: deps-test
	cmake --preset sanitize
	cmake --build --preset sanitize

build-fuzz: deps-test
	cmake --preset fuzz
	cmake --build --preset fuzz

# Debian 13 and testing as chroots for the compositor suites, cached outside build/.
roots: deps-test
	scripts/test-root ensure

test: build-tests build-windows build-sanitize build-fuzz roots
	ctest --preset linux -j2
	ctest --preset windows -j2
	ctest --preset sanitize -j2
	ctest --preset fuzz -j2

FUZZ_SECONDS ?= 600
fuzz: build-fuzz
	tests/fuzz/run-fuzzer build/fuzz/tests/fuzz/fuzz_fill $(FUZZ_SECONDS) tests/fuzz/corpus/fill --merge
	tests/fuzz/run-fuzzer build/fuzz/tests/fuzz/fuzz_autostart $(FUZZ_SECONDS) \
		tests/fuzz/corpus/autostart --merge
	tests/fuzz/run-fuzzer build/fuzz/tests/fuzz/fuzz_mutter_state $(FUZZ_SECONDS) \
		tests/fuzz/corpus/mutter_state --merge

package: build-tests build-windows
	cpack --config build/linux/CPackConfig.cmake -B build/packages
	cpack --config build/windows/CPackConfig.cmake -B build/packages
	@ls -l build/packages/*.deb build/packages/*.zip

bench: build-tests build-windows
	@scripts/install-deps --test --bench
	cmake -S tools/bench -B build/bench -G Ninja
	cmake --build build/bench
	cmake --build build/linux --target bench_layer
	scripts/test-root ensure forky
	scripts/bench

PREFIX ?= /usr/local
install: build
	cmake --install build/linux --prefix $(PREFIX)

uninstall:
	@test -f build/linux/install_manifest.txt || { echo "nothing installed from this build"; exit 1; }
	xargs -d '\n' rm -fv < build/linux/install_manifest.txt

clean:
	rm -rf build
