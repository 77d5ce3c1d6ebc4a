#!/usr/bin/env bash
# Builds the Debian package of the program and the simulator in
# build-package/ (no tests) and prints its path on standard output:
#   scripts/package.sh    -> build-package/tesmar_<version>_<arch>.deb
# Install it with `sudo apt install ./build-package/tesmar_<version>_<arch>.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh package >&2

build=build-package
# Debian's hardening flags for what is shipped: fortified functions, stack
# protection, full RELRO with immediate binding (read when the folder is
# first configured).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DTESMAR_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" >&2
rm -f "$build"/tesmar_*.deb
(cd "$build" && cpack -G DEB >&2)
debs=("$PWD/$build"/tesmar_*.deb)
[ -f "${debs[0]}" ] || { echo "package: cpack made no tesmar_*.deb in $build" >&2; exit 1; }
echo "${debs[0]}"
