#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Tessera needs.
# Idempotent: when everything is already present it does not touch apt at all.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev clang-format
  # Qt 6 and coroutines
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins qcoro-qt6-dev
  # HTTPS to AWS
  libcurl4-openssl-dev
  # secure store, platform integration
  libsecret-1-dev libglib2.0-dev libssl-dev libxcb1-dev libxcb-keysyms1-dev
  # test services: a private D-Bus session with a keyring, a headless display
  dbus-daemon dbus-x11 gnome-keyring xvfb xauth fonts-dejavu-core
  # the smoke test looks for the real binary's windows on the headless display
  x11-utils
  # the global hotkey test presses keys on the headless display
  xdotool
  # the real AWS CLI, used to prove wire and config-file compatibility
  awscli python3-botocore openssl
)

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
