#!/usr/bin/env bash
# Lays out Hello.app in a directory: the host binary (stripped) and a qbx launcher in
# Contents/MacOS, the backend and the pages in Contents/Resources/app. Prints its path.
#   make-bundle.sh [--host <quibex>] [dir]
# In the source tree, dir defaults to build/ and the host to dir/quibex. Installed
# (share/quibex/examples/hello), dir defaults to the current directory and the host
# to the installed bin/quibex.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
host=
if [ "${1:-}" = --host ]; then
  [ -n "${2:-}" ] || { echo "usage: make-bundle.sh [--host <quibex>] [dir]" >&2; exit 64; }
  host=$2
  shift 2
fi
if [ -f "$here/../../CMakeLists.txt" ]; then
  build=$(cd "${1:-$here/../../build}" && pwd)
  host=${host:-$build/quibex}
else
  build=$(cd "${1:-.}" && pwd)
  host=${host:-$here/../../../../bin/quibex}
fi
[ -x "$host" ] || { echo "make-bundle: $host is missing; build first, or name the host with --host" >&2; exit 1; }

app=$build/Hello.app
rm -rf "$app"
mkdir -p "$app/Contents/MacOS" "$app/Contents/Resources/app"
cp "$host" "$app/Contents/MacOS/quibex"
# The host's optional services are modules it opens on first use: modules/ beside
# it (a build tree) or ../lib/quibex/modules (an install). In the bundle they go
# to modules/ beside its host, where the host looks first.
hostdir=$(dirname "$host")
for mods in "$hostdir/modules" "$hostdir/../lib/quibex/modules"; do
  if [ -d "$mods" ]; then
    mkdir -p "$app/Contents/MacOS/modules"
    cp "$mods"/libquibex-*.so "$app/Contents/MacOS/modules/" 2>/dev/null
    break
  fi
done
# The bundle is what gets shipped: its host goes without symbols and debug data (the
# build's own binary keeps them).
if command -v strip >/dev/null 2>&1; then
  for bin in "$app/Contents/MacOS/quibex" "$app"/Contents/MacOS/modules/*.so; do
    [ -f "$bin" ] || continue
    strip "$bin" || echo "make-bundle: could not strip $bin; the bundle carries it as it is" >&2
  done
fi
cat > "$app/Contents/MacOS/qbx" <<'SH'
#!/bin/sh
# qbx run <entry.js>: the host starts the backend this way.
[ "$1" = run ] && [ -n "$2" ] || { echo "usage: qbx run <entry.js>" >&2; exit 64; }
exec node "$2"
SH
chmod 755 "$app/Contents/MacOS/qbx"
cp "$here/backend/entry.js" "$app/Contents/Resources/app/entry.js"
cp -r "$here/frontend" "$app/Contents/Resources/app/frontend"
# The bundle's icon: Info.plist names it without its extension, as bundles do.
cp "$here/Hello.svg" "$app/Contents/Resources/Hello.svg"
# What the example opens: hello: links and plain-text files. Info.plist declares
# them, and so does the desktop entry, for the Linux desktop.
id=io.quibex.examples.Hello
name=Hello
scheme=hello
mime=text/plain
cat > "$app/Contents/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleName</key>
  <string>$name</string>
  <key>CFBundleIdentifier</key>
  <string>$id</string>
  <key>CFBundleVersion</key>
  <string>0.1.0</string>
  <key>CFBundleIconFile</key>
  <string>Hello</string>
  <key>QuibexWindowSize</key>
  <string>900x640</string>
  <key>CFBundleURLTypes</key>
  <array>
    <dict>
      <key>CFBundleURLName</key>
      <string>Hello link</string>
      <key>CFBundleURLSchemes</key>
      <array><string>$scheme</string></array>
    </dict>
  </array>
  <key>CFBundleDocumentTypes</key>
  <array>
    <dict>
      <key>CFBundleTypeName</key>
      <string>Plain text</string>
      <key>CFBundleTypeRole</key>
      <string>Viewer</string>
      <key>CFBundleTypeMIMETypes</key>
      <array><string>$mime</string></array>
    </dict>
  </array>
</dict>
</plist>
PLIST

# The desktop entry starts the bundle's host with "--open" and the links or files:
# a host already running for the bundle takes them, else this one starts with them.
# The path is quoted as the Exec key wants it (\, ", \` and $ escaped inside the
# quotes, every backslash doubled again for the string value, % doubled).
exe=$(printf '%s' "$app/Contents/MacOS/quibex" | sed -e 's/\\/\\\\\\\\/g' -e 's/["`$]/\\\\&/g' -e 's/%/%%/g')
# The host's windows carry the bundle's name as their class and its id as their
# application id (the entry's own name), and show the bundle's icon: the entry
# matches them and shows the same icon.
icon=$(printf '%s' "$app/Contents/Resources/Hello.svg" | sed -e 's/\\/\\\\/g')
cat > "$app/Contents/$id.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Version=1.4
Name=$name
Comment=The quibex example application
Exec="$exe" --open %U
Icon=$icon
StartupWMClass=$name
Terminal=false
StartupNotify=true
Categories=Utility;
MimeType=x-scheme-handler/$scheme;$mime;
DESKTOP
echo "$app"
