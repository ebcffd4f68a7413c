#!/usr/bin/env bash
# Builds everything and runs every test: unit tests, the check of `cmake --install`
# and of the Debian package, the sanitizer run of the unit tests with a long
# robustness pass, the page library's tests and the end-to-end tests under Xvfb.
# Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

scripts/deps.sh --test

echo "== build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

echo "== unit tests"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 300 -E '^e2e_') | tee "$log/ctest"

echo "== install and Debian package"
scripts/check-install.sh build | tee "$log/install" || true

echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUIBEX_SANITIZE=ON -DQUIBEX_GTK=OFF >/dev/null
cmake --build build-asan -j "$jobs" --target unit_tests
(cd build-asan && QUIBEX_FUZZ_LINES=400000 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs" --timeout 600) | tee "$log/asan"

echo "== the desktop binary under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan-gtk -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUIBEX_SANITIZE=ON -DQUIBEX_GTK=ON \
  -DQUIBEX_BENCH=OFF >/dev/null
cmake --build build-asan-gtk -j "$jobs" --target quibex

echo "== page library tests"
node --test "$root"/tests/js/ 2>&1 | tee "$log/node"

# Each file starts its own X server, buses and services, so files run side by
# side, a few at a time. Window-manager timing can still upset a window test on a
# loaded machine, so a failing file runs once more and its second result counts;
# a file that fails twice fails the run. Output comes file by file, in order.
# Every part, and the summary, names the files that needed their retry, so that a
# retry never hides a fault that comes and goes.
e2e_jobs=${QUIBEX_E2E_JOBS:-3}
: >"$log/e2e"
: >"$log/e2e-retried"
e2e_one() {  # binary, test file, output file
  local bin=$1 f=$2 out=$3
  if ! QUIBEX_BIN="$bin" node --test --test-timeout=150000 "$f" >"$out" 2>&1; then
    { echo "quibex: $(basename "$f") failed; running it once more"; } >>"$out.first"
    mv "$out" "$out.failed"
    QUIBEX_BIN="$bin" node --test --test-timeout=150000 "$f" >"$out" 2>&1 || true
    cat "$out.failed" "$out.first" "$out" >"$out.all" && mv "$out.all" "$out"
    rm -f "$out.failed" "$out.first"
  fi
}
retried_line() {  # the files that needed their retry
  local list=''
  (($#)) && list=$(printf '%s, ' "$@")
  echo "quibex: end-to-end files that needed their retry: $#${list:+ (${list%, })}"
}
run_e2e() {  # what the summary adds to a retried file's name ("" for none), binary, then the test files
  local label=$1 bin=$2 i=0 f name
  shift 2
  local outs=() retried=()
  for f in "$@"; do
    i=$((i + 1))
    outs+=("$log/e2e.$i.$(basename "$f").out")
    while (($(jobs -rp | wc -l) >= e2e_jobs)); do wait -n || true; done
    e2e_one "$bin" "$f" "${outs[-1]}" &
  done
  wait
  i=0
  for f in "$@"; do
    name=$(basename "$f")
    cat "${outs[i]}"
    grep -E '^# (pass|fail) [0-9]+' "${outs[i]}" | tail -n2 >>"$log/e2e" || echo "# fail 1" >>"$log/e2e"
    if grep -qxF "quibex: $name failed; running it once more" "${outs[i]}"; then
      retried+=("$name")
      echo "$name${label:+ $label}" >>"$log/e2e-retried"
    fi
    rm -f "${outs[i]}"
    i=$((i + 1))
  done
  retried_line "${retried[@]}"
}

echo "== end-to-end tests (the real binary under Xvfb)"
run_e2e "" "$root/build/quibex" "$root"/tests/e2e/*.test.js

echo "== end-to-end tests of the bridge, windows, web content and desktop commands against the sanitizer build"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_e2e "against the sanitizer build" "$root/build-asan-gtk/quibex" \
    "$root"/tests/e2e/{bridge,crash,desktop_commands,downloads,get*,image_services,menus,navigation,page_actions,popups,robustness,tray,windows*}.test.js

count() { grep -Eo "$2" "$1" | grep -Eo '[0-9]+' | tail -n1; }
passed=0
failed=0
for f in ctest asan; do
  total=$(count "$log/$f" 'out of [0-9]+')
  bad=$(count "$log/$f" '[0-9]+ tests failed')
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done
passed=$((passed + $(count "$log/node" '# pass [0-9]+')))
failed=$((failed + $(count "$log/node" '# fail [0-9]+')))
sum() { grep -Eo "$2" "$1" | grep -Eo '[0-9]+' | awk '{s += $1} END {print s + 0}'; }
passed=$((passed + $(sum "$log/e2e" '# pass [0-9]+')))
failed=$((failed + $(sum "$log/e2e" '# fail [0-9]+')))
# The install check prints its counts last: without them it ended early, and fails.
if grep -Eq '^# fail [0-9]+$' "$log/install"; then
  passed=$((passed + $(sum "$log/install" '^# pass [0-9]+')))
  failed=$((failed + $(sum "$log/install" '^# fail [0-9]+')))
else
  failed=$((failed + 1))
fi
mapfile -t retried <"$log/e2e-retried"
retried_line "${retried[@]}"
echo "quibex: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
