#!/usr/bin/env bash
# Builds the 64-bit and 32-bit Windows zips (the windows-x64-zip and
# windows-x86-zip workflows), unpacks each, checks what it holds (both
# programs, README.txt and LICENSE.txt in UTF-8 with a byte-order mark and
# CR LF line ends, the sample) and
# runs the programs inside it under Wine, in a private Wine prefix, on the
# sample: the picture to map text, and back.
#
# Needs what tests/run_windows_tests.sh needs: mingw-w64, wine, wine64 and
# wine32:i386. On a machine that can't execute 32-bit x86 programs the 32-bit
# zip's contents are checked but its programs are not run, and a line says so
# (see tests/windows_wine.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source tests/windows_wine.sh
check_32bit_x86

wine=$wine64  # starts either build: it hands a 32-bit program on to the 32-bit loader
work=$(mktemp -d)
mkdir "$work/wine"
export WINEPREFIX="$work/wine" WINEDEBUG=-all
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT

for preset in windows-x64 windows-x86; do
  cmake --workflow --preset "$preset-zip"
done

echo "== starting Wine in $WINEPREFIX"
if ! "$wineserver" -p || ! "$wine" wineboot --init >/dev/null 2>&1; then
  echo "FAILED: Wine can't start on this machine ($wineserver -p; $wine wineboot --init)"
  exit 1
fi

fail() { echo "FAILED: $*"; exit 1; }

for pair in windows-x64:win64 windows-x86:win32; do
  build=build/${pair%%:*} system=${pair##*:}
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  name=bmp2grid-$version-$system
  zip=$PWD/$build/packages/$name.zip
  echo "== $build/packages/$name.zip ($(stat -c %s "$zip") bytes)"
  mkdir "$work/$system"
  (cd "$work/$system" && cmake -E tar xf "$zip")
  dir=$work/$system/$name
  contents=$(cd "$dir" && ls | tr '\n' ' ')
  [ "$contents" = "LICENSE.txt README.txt bmp2grid.exe grid2bmp.exe sample.bmp sample.txt " ] ||
    fail "$name.zip holds $contents"
  for text in README.txt LICENSE.txt; do
    lines=$(tr -cd '\n' < "$dir/$text" | wc -c)
    crlf=$(grep -c $'\r$' "$dir/$text" || true)
    [ "$lines" -gt 0 ] && [ "$crlf" = "$lines" ] || fail "$text: $crlf of $lines lines end in CR LF"
    # UTF-8 with a byte-order mark, so that every Notepad reads it as UTF-8.
    [ "$(head -c 3 "$dir/$text" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "$text has no UTF-8 byte-order mark"
    iconv -f UTF-8 -t UTF-8 "$dir/$text" >/dev/null || fail "$text is not UTF-8"
  done
  if [ "$system" = win32 ] && [ -n "$wine32_unrunnable" ]; then
    skip_32bit "running the programs in $name.zip"
    continue
  fi
  cd "$dir"
  [ "$("$wine" bmp2grid.exe --version)" = "bmp2grid $version"$'\r' ] || fail "$system bmp2grid.exe --version"
  "$wine" bmp2grid.exe sample.bmp map.txt && cmp map.txt sample.txt &&
    "$wine" grid2bmp.exe --palette sample.bmp sample.txt back.bmp &&
    "$wine" bmp2grid.exe back.bmp again.txt && cmp again.txt sample.txt ||
    fail "$name.zip's programs under Wine"
  cd - >/dev/null
done
if [ -n "$wine32_unrunnable" ]; then
  echo "== both zips hold what they should, and the 64-bit one's programs run under Wine"
else
  echo "== both zips hold what they should, and their programs run under Wine"
fi
