#!/usr/bin/env bash
# Builds the Debian package gapohm_VERSION_ARCH.deb into $BUILD/package/ (default
# build-pkg): gapohm, its manual page, the README and the example scans under
# /usr, with the library dependencies dpkg-shlibdeps finds. Prints the package's
# path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-pkg}
JOBS=${JOBS:-$(nproc)}
# The same compiler flags as the tested build; the binary is stripped in the package.
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGAPOHM_WERROR=ON \
  -DGAPOHM_TESTS=OFF -DGAPOHM_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr -DGAPOHM_REQUIRE_MANPAGE=ON
cmake --build "$BUILD" -j"$JOBS"
rm -rf "$BUILD/package"
(cd "$BUILD" && cpack -G DEB -B "$PWD/package")
shopt -s nullglob
debs=("$BUILD"/package/gapohm_*.deb)
if [ "${#debs[@]}" -ne 1 ]; then
  echo "package: expected one gapohm_*.deb in $BUILD/package, found ${#debs[@]}" >&2
  exit 1
fi
dpkg-deb --info "${debs[0]}"
dpkg-deb --contents "${debs[0]}"
echo "${debs[0]}"
