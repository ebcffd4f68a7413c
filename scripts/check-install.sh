#!/usr/bin/env bash
# Checks what the host installs, in seconds and without a display: `cmake --install`
# into a scratch prefix, the Debian package cpack makes (its fields, and its files
# unpacked with dpkg -x), and bundles made by the installed example script around
# the installed host. One line a check, then "# pass N" and "# fail N".
#   scripts/check-install.sh [build-dir]     (default build/, built already)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build}" && pwd) || exit 1
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT

pass=0
fail=0
check() {  # description, then a command that succeeds when the check holds
  local what=$1 out
  shift
  if out=$("$@" 2>&1); then
    pass=$((pass + 1))
    echo "ok - $what"
  else
    fail=$((fail + 1))
    echo "not ok - $what"
    [ -z "$out" ] || sed 's/^/#   /' <<<"$out"
  fi
}

# Read in full first: grep -q ending early would fail the pipe.
sections() { readelf -S --wide "$1"; }
has_symbols() { local s; s=$(sections "$1") && grep -Eq ' \.(symtab|debug_info) ' <<<"$s"; }
stripped() { local s; s=$(sections "$1") && ! grep -Eq ' \.(symtab|debug_info) ' <<<"$s"; }
# The optional services' modules, as the build made them.
module_names() { (cd "$build/modules" && ls libquibex-*.so); }
expected_files() {
  printf '%s\n' bin/quibex share/quibex/quib_client.js
  module_names | sed 's|^|lib/quibex/modules/|'
  (cd examples/hello && find . -type f | sed 's|^\./|share/quibex/examples/hello/|')
}
same_files() {  # prefix: exactly the files expected, no more and no fewer
  diff <(expected_files | sort) <(cd "$1" && find . ! -type d | sed 's|^\./||' | sort)
}
# With no display the host prints its usage and exits 1: proof that it loads.
starts() {
  local out status=0
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$1" 2>&1) || status=$?
  [ "$status" -eq 1 ] && grep -q '^usage: ' <<<"$out" || { echo "exit $status: $out"; return 1; }
}
equals() { [ "$1" = "$2" ] || { echo "got: $1"; echo "expected: $2"; return 1; }; }
bundle_ok() {  # bundle directory
  [ -x "$1/Contents/MacOS/quibex" ] && [ -x "$1/Contents/MacOS/qbx" ] && [ -f "$1/Contents/Info.plist" ] &&
    [ -f "$1/Contents/Resources/app/entry.js" ] && [ -f "$1/Contents/Resources/app/frontend/index.html" ]
}
# Every module, stripped, and loadable on its own: its libraries resolve and it
# leans on no symbol of the host.
modules_ok() {  # folder of modules
  local m
  diff <(module_names) <(cd "$1" && ls) || return 1
  for m in "$1"/*.so; do
    stripped "$m" || { echo "$m keeps its symbols"; return 1; }
    python3 -c 'import ctypes, sys; ctypes.CDLL(sys.argv[1], mode=2)' "$m" || return 1
  done
}
# The checks of an installed tree: its prefix, and a scratch folder for a bundle.
check_tree() {
  local p=$1 name=$2 work=$3
  check "$name: the installed files are the host, the page library and the example" same_files "$p"
  check "$name: bin/quibex is executable" test -x "$p/bin/quibex"
  check "$name: bin/quibex is stripped" stripped "$p/bin/quibex"
  check "$name: bin/quibex loads its libraries and prints its usage" starts "$p/bin/quibex"
  check "$name: lib/quibex/modules holds every module, stripped and loadable" modules_ok "$p/lib/quibex/modules"
  check "$name: share/quibex/quib_client.js is the page library" cmp "$p/share/quibex/quib_client.js" core/js/quib_client.js
  check "$name: the example's bundle script is executable" test -x "$p/share/quibex/examples/hello/make-bundle.sh"
  # Run from elsewhere, with no arguments: the bundle goes to the current folder
  # and carries the installed host.
  mkdir -p "$work"
  local app
  app=$(cd "$work" && "$p/share/quibex/examples/hello/make-bundle.sh" 2>&1)
  check "$name: the installed bundle script makes Hello.app in the current folder" equals "$app" "$work/Hello.app"
  check "$name: the bundle holds the host, qbx, Info.plist, the backend and the pages" bundle_ok "$work/Hello.app"
  check "$name: the bundle's host is stripped" stripped "$work/Hello.app/Contents/MacOS/quibex"
  check "$name: the bundle's host has its modules beside it" modules_ok "$work/Hello.app/Contents/MacOS/modules"
  local entry
  entry=$(find "$work/Hello.app/Contents" -maxdepth 1 -name '*.desktop' 2>/dev/null)
  if command -v desktop-file-validate >/dev/null 2>&1; then
    check "$name: the bundle's desktop entry passes desktop-file-validate" \
      desktop-file-validate "${entry:-$work/Hello.app/Contents/none.desktop}"
  else
    echo "skip - $name: desktop-file-validate is not installed"
  fi
}

echo "# cmake --install"
check "cmake --install --strip succeeds" cmake --install "$build" --prefix "$t/prefix" --strip
check_tree "$t/prefix" "cmake --install" "$t/bundle-prefix"

echo "# the example's bundle script in the source tree"
had_symbols=no
has_symbols "$build/quibex" && had_symbols=yes
mkdir "$t/from-build"
app=$(examples/hello/make-bundle.sh --host "$build/quibex" "$t/from-build" 2>&1)
check "make-bundle.sh --host <build>/quibex makes a bundle" equals "$app" "$t/from-build/Hello.app"
check "the bundle holds the host, qbx, Info.plist, the backend and the pages" bundle_ok "$t/from-build/Hello.app"
check "the bundle's host is stripped" stripped "$t/from-build/Hello.app/Contents/MacOS/quibex"
check "the bundle's host has its modules beside it" modules_ok "$t/from-build/Hello.app/Contents/MacOS/modules"
if [ "$had_symbols" = yes ]; then
  check "the build's own host keeps its symbols" has_symbols "$build/quibex"
fi

echo "# cpack -G DEB"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
check "cpack -G DEB succeeds" bash -c "cd '$build' && cpack -G DEB -B '$t/deb'"
deb=$(find "$t/deb" -maxdepth 1 -name '*.deb')
check "cpack made one package, quibex_${version}_<arch>.deb" \
  bash -c "[ \"\$(wc -l <<<'$deb')\" -eq 1 ] && [[ '$deb' == */quibex_${version}_*.deb ]]"
field() { dpkg-deb -f "$deb" "$1" 2>/dev/null; }
check "Package is quibex" equals "$(field Package)" quibex
check "Version is the project's, $version" equals "$(field Version)" "$version"
check "Maintainer is a name and an address" grep -Eq '^[^<]+ <[^>]+@[^>]+>$' <<<"$(field Maintainer)"
depends=$(field Depends)
names() { tr ',|' '\n\n' | sed -E 's/\(.*\)//; s/^ +//; s/ +$//' | grep . | sort -u; }
for p in libgtk-3-0 libwebkit2gtk-4.1-0 libsoup-3.0-0 libpulse0 gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly tesseract-ocr-eng; do
  check "Depends names $p" grep -qx "$p" <<<"$(names <<<"$depends")"
done
# A misspelt or unknown dependency leaves apt nothing to install.
check "apt-get would install it: its dependencies resolve" \
  apt-get install -s -qq --no-install-recommends "$deb"
check "dpkg -x unpacks it" dpkg -x "$deb" "$t/root"
check "everything is under /usr" equals "$(ls -A "$t/root")" usr
check_tree "$t/root/usr" "the package" "$t/bundle-package"

# dpkg-shlibdeps derives the library dependencies; the fixed list stands in where
# it is missing, and must name the same packages.
if command -v dpkg-shlibdeps >/dev/null 2>&1; then
  check "cpack -G DEB with the fixed list succeeds" \
    bash -c "cd '$build' && QUIBEX_DEB_FIXED_DEPENDS=1 cpack -G DEB -B '$t/deb-fixed'"
  fixed=$(dpkg-deb -f "$(find "$t/deb-fixed" -maxdepth 1 -name '*.deb')" Depends 2>/dev/null)
  check "the fixed dependency list names what dpkg-shlibdeps finds" \
    diff <(names <<<"$depends") <(names <<<"$fixed")
else
  echo "skip - dpkg-shlibdeps is not installed: the package declares the fixed list"
fi

echo "# pass $pass"
echo "# fail $fail"
[ "$fail" -eq 0 ]
