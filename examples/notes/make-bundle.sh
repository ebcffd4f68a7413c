#!/bin/sh
# Lays out the Notes example as a bundle, <build>/Notes.app, and prints its path.
#   examples/notes/make-bundle.sh [build]        (default: the repository's build/,
#                                                  which must hold the host, quibex)
# Start it with <build>/Notes.app/Contents/MacOS/quibex (no arguments: bundle mode).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
app="$build/Notes.app"
[ -x "$build/quibex" ] || { echo "make-bundle.sh: no host at $build/quibex (build it first)" >&2; exit 1; }

rm -rf "$app"
mkdir -p "$app/Contents/MacOS" "$app/Contents/Resources/app/backend"
cp "$build/quibex" "$app/Contents/MacOS/quibex"          # the host: a copy, not a link
cp "$here/qbx" "$app/Contents/MacOS/qbx"                 # starts the backend
cp "$here/backend/notes.py" "$app/Contents/Resources/app/backend/"
cp -R "$here/frontend" "$app/Contents/Resources/app/"     # the pages
chmod 755 "$app/Contents/MacOS/quibex" "$app/Contents/MacOS/qbx"

cat > "$app/Contents/Info.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleName</key>
  <string>Notes</string>
  <key>CFBundleIdentifier</key>
  <string>io.quibex.examples.Notes</string>
  <key>CFBundleVersion</key>
  <string>1.0</string>
  <key>QuibexWindowSize</key>
  <string>760x480</string>
</dict>
</plist>
PLIST
echo "$app"
