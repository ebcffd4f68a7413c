#!/usr/bin/env bash
# Lays out Hello.app in the build directory (default: build/): the host binary and a qbx
# launcher in Contents/MacOS, the backend and the pages in Contents/Resources/app.
#   examples/hello/make-bundle.sh [build-dir]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
[ -x "$build/quibex" ] || { echo "make-bundle: $build/quibex is missing; build first" >&2; exit 1; }

app=$build/Hello.app
rm -rf "$app"
mkdir -p "$app/Contents/MacOS" "$app/Contents/Resources/app"
cp "$build/quibex" "$app/Contents/MacOS/quibex"
cat > "$app/Contents/MacOS/qbx" <<'SH'
#!/bin/sh
# qbx run <entry.js>: the host starts the backend this way.
[ "$1" = run ] && [ -n "$2" ] || { echo "usage: qbx run <entry.js>" >&2; exit 64; }
exec node "$2"
SH
chmod 755 "$app/Contents/MacOS/qbx"
cp "$here/backend/entry.js" "$app/Contents/Resources/app/entry.js"
cp -r "$here/frontend" "$app/Contents/Resources/app/frontend"
cat > "$app/Contents/Info.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleName</key>
  <string>Hello</string>
  <key>CFBundleVersion</key>
  <string>0.1.0</string>
  <key>QuibexWindowSize</key>
  <string>900x640</string>
</dict>
</plist>
PLIST
echo "$app"
