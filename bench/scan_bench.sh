#!/usr/bin/env bash
# Wall time and peak memory of the track scan (`tessel size --clip 0`) of a ~1 GB clip against
# `cat FILE > /dev/null`, warm cache, best of three. The clip is a fixture clip repeated (not kept
# in the tree) under a copy of that disc's database files. Run from the repository's root:
#   bench/scan_bench.sh [tessel] [disc]
set -euo pipefail
tessel=${1:-build/default/src/cli/tessel}
disc=${2:-../shared/fixtures/discs/disc-simple}
work=${TMPDIR:-/tmp}/tessel_scan_bench
big=${TMPDIR:-/tmp}/tessel_bench_1g.m2ts  # shared with ts_dump_bench.sh
clip=$disc/BDMV/STREAM/00000.m2ts
if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" -lt 1073741824 ]; then
  : > "$big"
  while [ "$(stat -c %s "$big")" -lt 1073741824 ]; do cat "$clip" >> "$big"; done
fi
rm -rf "$work"
mkdir -p "$work/BDMV/STREAM"
for f in index.bdmv MovieObject.bdmv CLIPINF PLAYLIST; do cp -r "$disc/BDMV/$f" "$work/BDMV/"; done
ln -s "$big" "$work/BDMV/STREAM/00000.m2ts"
size=$(stat -c %s "$big")
cat "$big" > /dev/null  # into the page cache
best() {  # best of three wall times, in seconds
  local t best=999999
  for _ in 1 2 3; do
    t=$(TIMEFORMAT=%R; { time "$@" > /dev/null 2>&1; } 2>&1)
    best=$(echo "$t $best" | awk '{print ($1 < $2) ? $1 : $2}')
  done
  echo "$best"
}
cat_s=$(best cat "$big")
scan_s=$(best "$tessel" --quiet size --clip 0 "$work")
rss_kb=$(/usr/bin/time -f %M "$tessel" --quiet size --clip 0 "$work" 2>&1 >/dev/null | tail -1)
awk -v s="$size" -v c="$cat_s" -v d="$scan_s" -v m="$rss_kb" 'BEGIN {
  printf "file %.0f MB\ncat > /dev/null: %.3f s (%.0f MB/s)\ntessel scan:     %.3f s (%.0f MB/s), peak RSS %.1f MB\nratio scan/cat: %.2f\n",
         s / 1e6, c, s / 1e6 / c, d, s / 1e6 / d, m / 1024, d / c }'
rm -rf "$work"
