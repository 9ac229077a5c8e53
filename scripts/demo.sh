#!/usr/bin/env bash
# Tries Tessera against a local stand-in for IAM Identity Center, in a throwaway profile:
# temporary HOME and XDG folders, no session bus (so nothing reaches your keyring), and
# the AWS endpoints pointed at the stand-in. Your own settings and AWS config are never
# read or written; everything is deleted when Tessera quits.
#
# Usage: scripts/demo.sh [--skip-onboarding] [--for SECONDS] [--build-dir DIR]
#   --skip-onboarding  start as a returning user (onboarding already finished)
#   --for SECONDS      quit Tessera after that long (for unattended runs)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
skip_onboarding=false
run_for=""
while [ $# -gt 0 ]; do
  case "$1" in
    --skip-onboarding) skip_onboarding=true ;;
    --for) run_for="$2"; shift ;;
    --build-dir) build="$2"; shift ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done

tessera="$build/src/app/tessera"
standin="$build/tools/standin/tessera-standin"
if [ ! -x "$tessera" ] || [ ! -x "$standin" ]; then
  echo "Building Tessera and the stand-in in $build …"
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  fi
  cmake --build "$build" --target tessera tessera-standin
fi

profile="$(mktemp -d -t tessera-demo.XXXXXX)"
standin_pid=""
cleanup() {
  if [ -n "$standin_pid" ]; then kill "$standin_pid" 2>/dev/null || true; wait "$standin_pid" 2>/dev/null || true; fi
  rm -rf "$profile"
}
trap cleanup EXIT INT TERM

export HOME="$profile/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
export XDG_CACHE_HOME="$HOME/.cache" XDG_STATE_HOME="$HOME/.local/state"
export XDG_RUNTIME_DIR="$profile/run"
export AWS_CONFIG_FILE="$HOME/.aws/config" AWS_SHARED_CREDENTIALS_FILE="$HOME/.aws/credentials"
export DBUS_SESSION_BUS_ADDRESS="disabled:"
mkdir -p "$XDG_CONFIG_HOME/Tessera" "$XDG_DATA_HOME" "$HOME/.aws"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# A few dozen accounts with several roles; sign-ins are approved four seconds after they
# start, as if someone clicked Approve on the verification page.
"$standin" --accounts "$root/scripts/demo/organization.json" --approve after=4 \
  --ready-file "$profile/standin.json" >"$profile/standin.log" 2>&1 &
standin_pid=$!
for _ in $(seq 1 100); do
  [ -s "$profile/standin.json" ] && break
  if ! kill -0 "$standin_pid" 2>/dev/null; then cat "$profile/standin.log" >&2; exit 1; fi
  sleep 0.1
done
[ -s "$profile/standin.json" ] || { echo "the stand-in did not start" >&2; exit 1; }

# The stand-in prints the three variables a client needs, as export lines.
eval "$(grep '^export AWS_' "$profile/standin.log")"
start_url="$(sed -n 's/^start URL: \([^ ]*\).*/\1/p' "$profile/standin.log")"

{
  echo "[General]"
  echo "startUrl=$start_url"
  echo "ssoRegion=us-east-1"
  if $skip_onboarding; then echo "onboardingComplete=true"; fi
} >"$XDG_CONFIG_HOME/Tessera/Tessera.conf"

cat <<INFO
Tessera demo
  stand-in:   $start_url  (log: $profile/standin.log)
  profile:    $profile  (deleted on exit)
  sign-in:    approved automatically 4 seconds after it starts
  console:    opening a role shows the deep link on the stand-in's start page
              (your browser will warn about the stand-in's self-signed certificate)
Quit Tessera from its panel ("More actions" → "Quit Tessera") or with Ctrl+C.
INFO

"$tessera" &
tessera_pid=$!
if [ -n "$run_for" ]; then
  (sleep "$run_for"; kill -TERM "$tessera_pid" 2>/dev/null || true) &
fi
status=0
wait "$tessera_pid" || status=$?
exit "$status"
