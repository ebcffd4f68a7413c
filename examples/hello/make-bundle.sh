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
Version=1.5
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
