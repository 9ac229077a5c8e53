#!/usr/bin/env bash
# Installs what is missing, builds Tessera with its tests and runs the whole suite.
# Usage: scripts/test.sh [--sanitize]   (--sanitize: AddressSanitizer + UBSan build)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"

if [ "${1:-}" = "--sanitize" ]; then
  build_dir="$root/build-asan"
  "$root/scripts/build.sh" --sanitize "$build_dir"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
  export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
else
  build_dir="$root/build"
  "$root/scripts/build.sh" "$build_dir"
fi

cd "$build_dir"
ctest --output-on-failure --parallel "$(nproc)" --timeout 300
