#!/usr/bin/env bash
# Builds the 64-bit and 32-bit Windows executables with mingw-w64 and runs
# the end-to-end table against them under Wine, in a private Wine prefix.
# Also checks that the Windows build writes the same bytes as the Linux one
# for every test fixture.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in windows-x64 windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
cmake --preset release >/dev/null
cmake --build --preset release --target bmp2grid bmp2grid_cli_tests

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
prefix=$(mktemp -d)
export WINEPREFIX="$prefix" WINEDEBUG=-all
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$prefix"' EXIT

# Runs the table against one executable. Returns 2 when Wine can't run it.
run_table() {
  local exe=$PWD/$1
  local usage
  usage=$("$wine" "$exe" --help 2>/dev/null | tr -d '\r' || true)
  if [[ "$usage" != "Usage: "*" [-1] <infile> <outfile>" ]]; then
    return 2
  fi
  BMP2GRID_TEST_EXE="$exe" BMP2GRID_TEST_WRAPPER="$wine" \
    build/release/tests/bmp2grid_cli_tests --gtest_filter='Cli.*:CrossPlatform.*'
}

echo "== starting Wine in $prefix"
# A persistent server keeps each of the many short runs fast.
if ! "$wineserver" -p || ! "$wine" wineboot --init >/dev/null 2>&1; then
  echo "FAILED: Wine can't start on this machine ($wineserver -p; $wine wineboot --init)"
  exit 1
fi

echo "== 64-bit bmp2grid.exe under Wine"
status=0
run_table build/windows-x64/converter/bmp2grid.exe || status=$?
if [ "$status" = 2 ]; then
  echo "FAILED: Wine started but can't run build/windows-x64/converter/bmp2grid.exe"
  exit 1
elif [ "$status" != 0 ]; then
  exit "$status"
fi

echo "== 32-bit bmp2grid.exe under Wine"
status=0
run_table build/windows-x86/converter/bmp2grid.exe || status=$?
if [ "$status" = 2 ]; then
  echo "note: this machine's Wine can't run 32-bit programs (no 32-bit Wine installed);"
  echo "      build/windows-x86/converter/bmp2grid.exe was built but not run"
elif [ "$status" != 0 ]; then
  exit "$status"
fi
