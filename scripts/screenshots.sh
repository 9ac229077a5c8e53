#!/usr/bin/env bash
# Renders Tessera's main views with demo data to PNG files.
# Usage: scripts/screenshots.sh [OUTPUT-FOLDER] (default: build/screenshots)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TESSERA_BUILD_DIR:-$root/build}"
out="${1:-$build/screenshots}"
cmake --build "$build" --target tessera-screenshots >/dev/null
profile="$(mktemp -d -t tessera-shots.XXXXXX)"
trap 'rm -rf "$profile"' EXIT
# Offscreen and in a throwaway profile: nothing shows up and nothing of yours is read.
HOME="$profile" XDG_CONFIG_HOME="$profile/config" XDG_DATA_HOME="$profile/data" \
  XDG_CACHE_HOME="$profile/cache" DBUS_SESSION_BUS_ADDRESS=disabled: QT_QPA_PLATFORM=offscreen \
  "$build/tools/screenshots/tessera-screenshots" "$out"
