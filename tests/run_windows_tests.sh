#!/usr/bin/env bash
# Builds the 64-bit and 32-bit Windows executables with mingw-w64 and runs
# the end-to-end tables of bmp2grid.exe and grid2bmp.exe against each build
# under Wine, in a private Wine prefix. Also checks that the Windows build
# writes the same bytes as the Linux one for every test fixture.
#
# Needs Debian's wine and wine64, and wine32:i386 for the 32-bit build; a
# build that Wine can't run is a failure. On a machine that can't execute
# 32-bit x86 programs the 32-bit table is skipped, with a line that says so
# (see tests/windows_wine.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source tests/windows_wine.sh
check_32bit_x86

for preset in windows-x64 windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
# Self-contained: each executable imports only DLLs that every Windows has
# (libpng, zlib and expat are linked in statically, as the C and C++ runtimes are).
for exe in build/windows-x{64,86}/{converter/bmp2grid,grid2bmp/grid2bmp}.exe; do
  imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | sort | tr '\n' ' ')
  if [ "$imports" != "KERNEL32.dll msvcrt.dll " ]; then
    echo "FAILED: $exe imports $imports; it may import only KERNEL32.dll and msvcrt.dll"
    exit 1
  fi
done
echo "== the Windows executables import only KERNEL32.dll and msvcrt.dll"
cmake --preset release >/dev/null
cmake --build --preset release --target bmp2grid grid2bmp bmp2grid_cli_tests

prefix=$(mktemp -d)
export WINEPREFIX="$prefix" WINEDEBUG=-all
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$prefix"' EXIT

echo "== starting Wine in $prefix"
# A persistent server keeps each of the many short runs fast.
if ! "$wineserver" -p || ! "$wine64" wineboot --init >/dev/null 2>&1; then
  echo "FAILED: Wine can't start on this machine ($wineserver -p; $wine64 wineboot --init)"
  exit 1
fi

# Runs both tables against the executables of one build folder. wine64
# starts either build: it hands a 32-bit program on to the 32-bit loader.
run_tables() {
  local what=$1 build=$PWD/$2 wine=$wine64
  local bmp2grid=$build/converter/bmp2grid.exe grid2bmp=$build/grid2bmp/grid2bmp.exe
  echo "== $what bmp2grid.exe and grid2bmp.exe under Wine"
  local usage
  usage=$("$wine" "$bmp2grid" --help 2>/dev/null | tr -d '\r' | head -n 1 || true)  # then a line per option
  if [[ "$usage" != "Usage: "*" [-1] <infile> <outfile>" ]]; then
    echo "FAILED: Wine can't run $2/converter/bmp2grid.exe"
    exit 1
  fi
  BMP2GRID_TEST_EXE="$bmp2grid" GRID2BMP_TEST_EXE="$grid2bmp" \
    BMP2GRID_TEST_WRAPPER="$wine" \
    build/release/tests/bmp2grid_cli_tests --gtest_filter='Cli.*:CrossPlatform.*:Grid2Bmp.*:Tiled.*:Batch.*:BothPrograms/Watch.*'
}

run_tables 64-bit build/windows-x64
if [ -n "$wine32_unrunnable" ]; then
  skip_32bit "the 32-bit Windows table"
else
  run_tables 32-bit build/windows-x86
fi
