#!/usr/bin/env bash
# Builds the fuzz target and fuzzes for the given number of seconds
# (default 60), starting from the generated seed corpus and the corpus kept
# from earlier runs. Fails on any crash, leak, timeout or sanitizer report;
# the input that caused it is saved as build/fuzz/finding-*.
#
#   fuzz/run.sh [SECONDS] [extra libFuzzer options, e.g. -jobs=2 -workers=2]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
cmake --preset release >/dev/null
cmake --build --preset release --target bmp2grid_make_corpus

seeds=build/fuzz/seeds
corpus=build/fuzz/corpus
mkdir -p "$corpus"
build/release/fuzz/bmp2grid_make_corpus "$seeds"

build/fuzz/fuzz/bitmap_fuzzer -max_total_time="$seconds" -dict=fuzz/bmp.dict \
  -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/finding- "$@" "$corpus" "$seeds"
