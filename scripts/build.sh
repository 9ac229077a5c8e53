#!/usr/bin/env bash
# Configures and builds Tessera. Usage: scripts/build.sh [--sanitize] [build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

sanitize=OFF
build_dir=""
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=ON ;;
    *) build_dir="$arg" ;;
  esac
done
if [ -z "$build_dir" ]; then
  if [ "$sanitize" = ON ]; then build_dir="$root/build-asan"; else build_dir="$root/build"; fi
fi

# Compiler cache hits across clones of the repository.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1

cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSERA_SANITIZE="$sanitize" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
