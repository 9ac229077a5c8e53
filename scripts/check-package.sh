#!/usr/bin/env bash
# Checks the Debian package: the installed desktop entry and AppStream data validate,
# lintian finds no errors, the package holds exactly the expected files, the icons have
# their sizes and the packaged binary runs from the extracted tree.
# Usage: scripts/check-package.sh [tessera_X_arch.deb]  (without one, package.sh builds it)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The checkers are needed here only, not to build or test Tessera.
tools=(desktop-file-utils appstream lintian)
missing=()
for pkg in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

deb="${1:-}"
if [ -z "$deb" ]; then
  deb="$("$root/scripts/package.sh" | tail -n 1)"
fi
deb="$(realpath "$deb")"
echo "Checking $deb"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"

passed=0
failed=0
check() {
  local name="$1"; shift
  if "$@" >"$work/out" 2>&1; then
    passed=$((passed + 1)); echo "ok: $name"
  else
    failed=$((failed + 1)); echo "FAILED: $name"; sed 's/^/    /' "$work/out"
  fi
}

expected_files() {
  echo ./usr/bin/tessera
  echo ./usr/share/applications/tessera.desktop
  echo ./usr/share/doc/tessera/changelog.gz
  echo ./usr/share/doc/tessera/copyright
  for size in 16 22 24 32 48 64 128 256 512; do
    echo "./usr/share/icons/hicolor/${size}x${size}/apps/tessera.png"
  done
  echo ./usr/share/icons/hicolor/scalable/apps/tessera.svg
  echo ./usr/share/man/man1/tessera.1.gz
  echo ./usr/share/metainfo/com.tessera.Tessera.metainfo.xml
}
content_is_expected() {
  diff <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort) <(expected_files | sort)
}

icons_have_their_sizes() {
  for size in 16 22 24 32 48 64 128 256 512; do
    python3 - "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/tessera.png" "$size" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read(24)
width, height = struct.unpack('>II', data[16:24])
assert data[:8] == b'\x89PNG\r\n\x1a\n' and width == height == int(sys.argv[2]), (width, height)
PY
  done
}

packaged_binary_runs() {
  local version
  version="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/root/usr/bin/tessera" --version)"
  echo "$version"
  [ "$version" = "Tessera $(dpkg-deb -f "$deb" Version)" ]
}

relations_are_declared() {
  dpkg-deb -f "$deb" Depends Recommends
  dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' &&
    dpkg-deb -f "$deb" Depends | grep -q 'libsecret-1-0' &&
    dpkg-deb -f "$deb" Recommends | grep -q 'gnome-keyring'
}

manual_page_renders() {
  # groff's warnings (bad requests, lines it cannot break) are what a reader would see.
  local warnings
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$work/root/usr/share/man/man1/tessera.1.gz" 2>&1 >/dev/null)"
  echo "$warnings"
  [ -z "$warnings" ]
}

lintian_finds_no_errors() {
  # Every tag is listed below for the record; only errors fail the check.
  lintian --fail-on error --display-level ">=info" "$deb" >"$work/lintian" 2>&1
}

check "package content" content_is_expected
check "desktop-file-validate" desktop-file-validate "$work/root/usr/share/applications/tessera.desktop"
check "appstreamcli validate" appstreamcli validate --no-net "$work/root/usr/share/metainfo/com.tessera.Tessera.metainfo.xml"
check "icon sizes" icons_have_their_sizes
check "packaged binary --version" packaged_binary_runs
check "dependencies" relations_are_declared
if command -v man >/dev/null; then
  check "manual page" manual_page_renders
else
  echo "not checked: manual page (man is not installed)"
fi
check "lintian" lintian_finds_no_errors
echo "--- lintian's tags:"
cat "$work/lintian"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
