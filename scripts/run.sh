#!/usr/bin/env bash
# Installs what is missing, builds Tessera optimised (with debug information, in its own
# folder, apart from the tests' Debug build) and starts it with the given options.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build-run"
"$root/scripts/setup.sh"

# Compiler cache hits across clones of the repository.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1

cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSERA_BUILD_TESTS=OFF -DTESSERA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" --target tessera
exec "$build_dir/src/app/tessera" "$@"
