#!/usr/bin/env bash
# Demux of a ~1 GB stream (a fixture clip repeated, not kept in the tree; the joins break the
# streams, and the damage reported there is expected) against `cat FILE > /dev/null` and
# `ffmpeg -map 0 -c copy` of the same file, warm cache: wall time, MB/s and peak RSS of each.
# Usage: bench/demux_bench.sh [tessel] [clip]
set -euo pipefail
tessel=${1:-build/default/src/cli/tessel}
clip=${2:-../shared/fixtures/discs/disc-audio-zoo/BDMV/STREAM/00000.m2ts}
big=${TMPDIR:-/tmp}/tessel_demux_bench_1g.m2ts
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" -lt 1073741824 ]; then
  : > "$big"
  while [ "$(stat -c %s "$big")" -lt 1073741824 ]; do cat "$clip" >> "$big"; done
fi
size=$(stat -c %s "$big")
cat "$big" > /dev/null  # into the page cache
# run NAME COMMAND...: best wall time of three runs and the peak RSS of the last.
run() {
  local name=$1 best=999999 t rss
  shift
  for _ in 1 2 3; do
    rm -rf "${out:?}"/*
    /usr/bin/time -f "%e %M" -o "$out/.time" "$@" > /dev/null 2>&1 || true
    read -r t rss < <(tail -n 1 "$out/.time")
    best=$(echo "$t $best" | awk '{print ($1 < $2) ? $1 : $2}')
  done
  awk -v n="$name" -v s="$size" -v t="$best" -v r="$rss" 'BEGIN {
    printf "%-16s %7.3f s  %6.0f MB/s  peak RSS %5.0f MB\n", n, t, s / 1e6 / (t > 0 ? t : 0.001), r / 1024 }'
}
echo "file $((size / 1000000)) MB"
run "cat" cat "$big"
run "tessel demux" "$tessel" --quiet demux "$big" -o "$out"
if command -v ffmpeg > /dev/null; then
  run "ffmpeg -c copy" ffmpeg -v quiet -y -i "$big" -map 0 -c copy -f null -
fi
