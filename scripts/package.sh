#!/usr/bin/env bash
# Builds the Debian package: a Release build in its own folder, with Debian's hardening
# flags, then cpack. Usage: scripts/package.sh [build-dir]; prints the .deb's path.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$root/build-package}"

"$root/scripts/setup.sh"

# Compiler cache hits across clones of the repository.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1

# Hardening as Debian builds its own packages (fortified functions, read-only relocations,
# immediate binding, position-independent executable).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
# Debug information would only be stripped again.
cxxflags="${cxxflags//-g /}"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTESSERA_BUILD_TESTS=OFF -DTESSERA_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# Only what the package holds; the developer tools are not built.
cmake --build "$build_dir" --parallel "$(nproc)" --target tessera tessera-data
(cd "$build_dir" && cpack -G DEB >/dev/null)
ls "$build_dir"/tessera_*.deb
