#!/usr/bin/env bash
# Builds the host and runs the hello example in command-line mode.
# With a display, the window opens and the example runs until it ends.
# Without one ($DISPLAY unset), it runs on a private Xvfb, clicks through the example,
# saves a screenshot (path printed; SCREENSHOT=<png> chooses it) and exits.
# It also lays out the bundle build/Hello.app and says how to start it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ -z "${DISPLAY:-}" ]; then scripts/deps.sh --xvfb; else scripts/deps.sh; fi
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
bundle=$(examples/hello/make-bundle.sh build)

work=$(mktemp -d)
xvfb=
wm=
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

backend=(node "$root/examples/hello/backend/entry.js" --listen "$work/hello.sock" --host "$root/build/quibex")

if [ -z "${DISPLAY:-}" ]; then
  # Xvfb picks a free display number and writes it to fd 3.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb=$!
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || { echo "run-example: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
  # A window manager, so the screenshot shows the window's title bar.
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  shot=${SCREENSHOT:-$root/build/hello-example.png}
  echo "no display: running the example on Xvfb $DISPLAY in demo mode"
  status=0
  timeout 120 "${backend[@]}" --demo --screenshot "$shot" || status=$?
  [ "$status" -eq 0 ] || { echo "run-example: the example failed ($status)" >&2; exit "$status"; }
else
  "${backend[@]}"
fi

echo "bundle: $bundle"
echo "start it with: $bundle/Contents/MacOS/quibex"
