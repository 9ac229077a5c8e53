#!/usr/bin/env bash
# Plants one small fault at a time in src/ and reports whether the tests notice it.
#
# Usage: scripts/mutation-sample.sh [--build DIR] [--filter REGEX] [--list FILE]
#                                   [--timeout SECONDS]
#   --build    a configured build folder (default: ./build, made by scripts/build.sh)
#   --filter   only mutants whose id or file matches this extended regex
#   --list     the mutant list (default: scripts/mutants.tsv)
#   --timeout  per-test timeout handed to ctest (default: 300)
#   --check    only report which mutants are stale; build and run nothing
#   --skip-baseline  do not first check that the selected tests pass on the real code
#
# Each line of the list is: id, file, ctest regex, snippet, replacement, separated by
# tabs. The snippet must occur exactly once in the file; it is found by text, never by
# line number, so the list survives edits elsewhere in the file. A snippet that is
# missing or ambiguous makes the mutant "stale" (the code changed; update the list).
#
# For each mutant: replace the snippet, rebuild only the test targets the regex
# selects, run them, restore the file. A failing test kills the mutant; a mutant that
# does not compile is reported as "nobuild" and left out of the kill rate. The file is
# restored after every mutant and on any exit (Ctrl+C included); restoring gives it a
# fresh modification time, so the next build recompiles the original code.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

build_dir="$root/build"
filter=""
list="$root/scripts/mutants.tsv"
test_timeout=300
check_only=0
baseline=1
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build_dir="$2"; shift 2 ;;
    --filter) filter="$2"; shift 2 ;;
    --list) list="$2"; shift 2 ;;
    --timeout) test_timeout="$2"; shift 2 ;;
    --check) check_only=1; shift ;;
    --skip-baseline) baseline=0; shift ;;
    -h|--help) sed -n '2,12p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
build_dir="$(cd "$build_dir" 2>/dev/null && pwd)" || { echo "no build folder: $build_dir" >&2; exit 2; }
[ -f "$build_dir/CTestTestfile.cmake" ] || { echo "not a configured build folder: $build_dir" >&2; exit 2; }
[ -f "$list" ] || { echo "no mutant list: $list" >&2; exit 2; }
if [ -n "$(git -C "$root" status --porcelain -- src)" ]; then
  echo "src/ has uncommitted changes; commit or stash them first so a restore cannot lose work" >&2
  exit 2
fi

export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1

backup="$(mktemp)"
log_dir="$(mktemp -d)"
mutated=""
restore() {
  if [ -n "$mutated" ]; then
    cat "$backup" >"$root/$mutated"
    mutated=""
  fi
}
trap 'restore; rm -f "$backup"' EXIT
trap 'restore; echo; echo "interrupted; file restored" >&2; exit 130' INT TERM HUP

# Replaces the snippet by the replacement in a file when it occurs exactly once; prints
# the line it starts on. In the list, "\n" stands for a line break and "\\" for a
# backslash. Exit status: 0 replaced, 3 not found, 4 found more than once.
apply_mutant() {
  python3 - "$1" "$2" "$3" <<'PY'
import re, sys
unescape = lambda s: re.sub(r"\\(.)", lambda m: "\n" if m.group(1) == "n" else m.group(1), s)
path, old, new = sys.argv[1], unescape(sys.argv[2]), unescape(sys.argv[3])
text = open(path, encoding="utf-8").read()
count = text.count(old)
if count == 0:
    sys.exit(3)
if count > 1:
    sys.exit(4)
print(text.count("\n", 0, text.index(old)) + 1)
open(path, "w", encoding="utf-8").write(text.replace(old, new, 1))
PY
}

# Runs the tests a regex selects after building only their targets; the status is
# 2 when the build fails, 1 when a test fails.
build_and_test() { # regex, log name
  local -a targets
  mapfile -t targets < <(cd "$build_dir" && ctest -N -R "$1" | sed -n 's/^ *Test *#[0-9]*: *//p')
  [ ${#targets[@]} -gt 0 ] || return 3
  cmake --build "$build_dir" --target "${targets[@]}" >"$log_dir/$2.build" 2>&1 || return 2
  (cd "$build_dir" && ctest -R "$1" --timeout "$test_timeout" --parallel 2 --no-tests=error) \
    >"$log_dir/$2.test" 2>&1 || return 1
}

ids=() files=() regexes=() snippets=() replacements=()
while IFS=$'\t' read -r id file tests snippet replacement || [ -n "${id:-}" ]; do
  case "$id" in ''|'#'*) continue ;; esac
  if [ -n "$filter" ] && ! [[ "$id $file" =~ $filter ]]; then continue; fi
  ids+=("$id") files+=("$file") regexes+=("$tests") snippets+=("$snippet")
  replacements+=("$replacement")
done <"$list"

if [ $check_only -eq 0 ] && [ $baseline -eq 1 ] && [ ${#ids[@]} -gt 0 ]; then
  union="$(printf '%s\n' "${regexes[@]}" | sort -u | paste -sd'|' -)"
  echo "baseline: the selected tests on the real code ..."
  if ! build_and_test "$union" baseline; then
    echo "the selected tests do not pass on the real code; see $log_dir/baseline.*" >&2
    exit 1
  fi
fi

killed=0 survived=0 stale=0 nobuild=0
report=()
for i in "${!ids[@]}"; do
  id="${ids[$i]}" file="${files[$i]}" tests="${regexes[$i]}"
  snippet="${snippets[$i]}" replacement="${replacements[$i]}"
  target="$root/$file"
  if [ ! -f "$target" ]; then
    stale=$((stale + 1)); report+=("stale     $id  $file (file missing)"); continue
  fi
  cp "$target" "$backup"
  mutated="$file"
  line="$(apply_mutant "$target" "$snippet" "$replacement")"
  status=$?
  if [ $status -ne 0 ]; then
    restore
    why="snippet not found"; [ $status -eq 4 ] && why="snippet not unique"
    stale=$((stale + 1)); report+=("stale     $id  $file ($why)"); continue
  fi

  if [ $check_only -eq 1 ]; then
    restore
    report+=("$(printf '%-9s %s  %s:%s' ok "$id" "$file" "$line")"); continue
  fi
  printf '%-9s %s  %s:%s ... ' "mutant" "$id" "$file" "$line"
  build_and_test "$tests" "$id"
  status=$?
  restore
  case $status in
    0) result=survived; survived=$((survived + 1)) ;;
    1) result=killed; killed=$((killed + 1)) ;;
    2) result=nobuild; nobuild=$((nobuild + 1)) ;;
    *) result=stale; stale=$((stale + 1)) ;;
  esac
  failing=""
  if [ $status -eq 1 ]; then
    failing="$(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' "$log_dir/$id.test" | paste -sd, -)"
  fi
  [ $status -eq 3 ] && failing="no tests match $tests"
  echo "$result${failing:+ by $failing}"
  report+=("$(printf '%-9s %s  %s:%s%s' "$result" "$id" "$file" "$line" "${failing:+  [$failing]}")")
done

echo
echo "== mutation sample ($(date '+%F %T'), logs in $log_dir)"
printf '%s\n' "${report[@]}" | sort
tried=$((killed + survived))
rate="n/a"
[ $tried -gt 0 ] && rate="$(awk -v k=$killed -v t=$tried 'BEGIN { printf "%.0f%%", 100 * k / t }')"
echo "killed $killed, survived $survived, stale $stale, nobuild $nobuild; kill rate $rate ($killed/$tried)"
