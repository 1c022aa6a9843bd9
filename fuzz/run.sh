#!/usr/bin/env bash
# Builds the fuzz targets and fuzzes each in turn for the given number of
# seconds (default 60), starting from its generated seed corpus and the
# corpus kept from earlier runs. Fails on any crash, leak, timeout or
# sanitizer report; the input that caused it is saved as
# build/fuzz/finding-* (pictures), build/fuzz/png-finding-* (the PNG
# target's), build/fuzz/map-finding-* (map text) or
# build/fuzz/palette-finding-* (GIMP and JASC palettes), build/fuzz/tmx-finding-*
# or build/fuzz/tmj-finding-* (Tiled maps).
#
#   fuzz/run.sh [SECONDS] [extra libFuzzer options, e.g. -jobs=2 -workers=2]
#   FUZZ_TARGETS=map_text_fuzzer fuzz/run.sh 600   # one target only
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
read -r -a targets <<<"${FUZZ_TARGETS:-bitmap_fuzzer png_fuzzer map_text_fuzzer palette_fuzzer tmx_fuzzer tmj_fuzzer}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
cmake --preset release >/dev/null
cmake --build --preset release --target bmp2grid_make_corpus
build/release/fuzz/bmp2grid_make_corpus build/fuzz/seeds build/fuzz/map-seeds build/fuzz/png-seeds \
  build/fuzz/palette-seeds
# The PNG fixtures: every kind of PNG read, saved by real tools, and refusals.
cp tests/data/*.png build/fuzz/png-seeds/
# The Tiled maps: maps Tiled saved, in every encoding and shape, and refused.
mkdir -p build/fuzz/tmx-seeds build/fuzz/tmj-seeds
cp tests/data/tiled/*.tmx build/fuzz/tmx-seeds/
cp tests/data/tiled/*.tmj build/fuzz/tmj-seeds/

for target in "${targets[@]}"; do
  case "$target" in
    bitmap_fuzzer) dict=fuzz/bmp.dict corpus=build/fuzz/corpus seeds=build/fuzz/seeds prefix=finding- ;;
    png_fuzzer) dict=fuzz/png.dict corpus=build/fuzz/png-corpus seeds=build/fuzz/png-seeds prefix=png-finding- ;;
    map_text_fuzzer) dict=fuzz/map.dict corpus=build/fuzz/map-corpus seeds=build/fuzz/map-seeds prefix=map-finding- ;;
    tmx_fuzzer) dict=fuzz/tmx.dict corpus=build/fuzz/tmx-corpus seeds=build/fuzz/tmx-seeds prefix=tmx-finding- ;;
    tmj_fuzzer) dict=fuzz/tmj.dict corpus=build/fuzz/tmj-corpus seeds=build/fuzz/tmj-seeds prefix=tmj-finding- ;;
    palette_fuzzer) dict=fuzz/palette.dict corpus=build/fuzz/palette-corpus seeds=build/fuzz/palette-seeds prefix=palette-finding- ;;
    *) echo "unknown fuzz target: $target" >&2; exit 1 ;;
  esac
  mkdir -p "$corpus"
  echo "== $target for $seconds seconds"
  "build/fuzz/fuzz/$target" -max_total_time="$seconds" -dict="$dict" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/$prefix" "$@" "$corpus" "$seeds"
done
