#!/usr/bin/env bash
# Wall time of `tessel dump FILE --json` against `cat FILE > /dev/null` on a ~1 GB stream made by
# repeating a fixture clip (not kept in the tree). Run from the repository's root:
#   bench/ts_dump_bench.sh [tessel] [clip]
set -euo pipefail
tessel=${1:-build/default/src/cli/tessel}
clip=${2:-../shared/fixtures/discs/disc-simple/BDMV/STREAM/00000.m2ts}
big=${TMPDIR:-/tmp}/tessel_bench_1g.m2ts
if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" -lt 1073741824 ]; then
  : > "$big"
  while [ "$(stat -c %s "$big")" -lt 1073741824 ]; do cat "$clip" >> "$big"; done
fi
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
dump_s=$(best "$tessel" --quiet dump "$big" --json)
awk -v s="$size" -v c="$cat_s" -v d="$dump_s" 'BEGIN {
  printf "file %.0f MB\ncat > /dev/null: %.3f s (%.0f MB/s)\ntessel dump:     %.3f s (%.0f MB/s)\nratio dump/cat: %.2f\n",
         s / 1e6, c, s / 1e6 / c, d, s / 1e6 / d, d / c }'
