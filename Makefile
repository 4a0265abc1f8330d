# Everyday entry points. Packages come from scripts/install-deps.sh (the README commands
# run it first).

.PHONY: all build run test test-asan test-logic bench format clean package install-user

all: build

build:
	cmake --preset debug
	cmake --build --preset debug

# Builds the optimised application and starts it; Ctrl+C stops it.
run:
	cmake --preset release
	cmake --build --preset release --target tessarine
	./build/release/tessarine

# The whole suite, inside a private desktop session (Xvfb, D-Bus, keyring); then the logic
# and host tests again under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
test: build
	scripts/test-env.sh ctest --preset debug
	$(MAKE) test-asan

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# Only the tests that need no display, D-Bus or keyring.
test-logic: build
	ctest --preset logic

# The Debian package, build/release/tessarine_<version>_<arch>.deb
# (install it with: sudo apt install ./build/release/tessarine_*.deb).
package:
	cmake --preset release
	cmake --build --preset release
	cd build/release && cpack

# Installs into ~/.local for this user only (no root): ~/.local/bin/tessarine, the menu
# entry and icons.
install-user:
	cmake --preset release
	cmake --build --preset release
	cmake --install build/release --prefix "$(HOME)/.local"

bench:
	cmake --preset release
	cmake --build --preset release
	for b in build/release/bench/tessarine-bench-*; do scripts/test-env.sh "$$b"; done

format:
	git ls-files '*.cpp' '*.h' ':!:third_party' | xargs clang-format -i

clean:
	rm -rf build
