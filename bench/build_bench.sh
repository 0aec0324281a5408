#!/usr/bin/env bash
# A whole `tessel build` of a disc of 2 GB or more that this script makes from disc-multiclip
# (its clips grown by repeating their aligned units), against `cp -r` of the same tree in the
# same run: wall time, MB/s, the copy step's time and share, peak resident memory. Run from the
# repository's root:
#   bench/build_bench.sh [tessel] [edit options...]
# The edit options (those of `tessel build`) choose the clip to remultiplex; without them every
# clip is copied.
set -euo pipefail
tessel=${1:-build/default/src/cli/tessel}
shift || true
work=${TMPDIR:-/tmp}/tessel-build-bench
disc=$work/disc
target=2200000000  # bytes over the three grown clips
mkdir -p "$work"
if [ ! -d "$disc/BDMV" ]; then
  mkdir -p "$disc"
  cp -r tests/data/discs/disc-multiclip/BDMV "$disc/"
  for n in 1 2 3; do
    clip=$disc/BDMV/STREAM/0000$n.m2ts
    # Doubling keeps the 6144-byte alignment of the stream.
    while [ "$(stat -c %s "$clip")" -lt $((target / 3)) ]; do
      cat "$clip" "$clip" > "$clip.tmp"
      mv "$clip.tmp" "$clip"
    done
  done
fi
total=$(du -sb "$disc/BDMV" | cut -f1)
cat "$disc"/BDMV/STREAM/*.m2ts > /dev/null  # into the page cache

measure() {  # wall seconds and peak RSS (kB) of one run
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$work/out" 2> "$work/err" || {
    cat "$work/err" >&2
    exit 1
  }
  cat "$work/time"
}
rate() { awk -v b="$total" -v s="$1" 'BEGIN { printf "%.1f", (s > 0 ? b / 1e6 / s : 0) }'; }

rm -rf "$work/out-build" "$work/out-cp"
read -r build_s build_kb < <(measure "$tessel" build "$disc" -o "$work/out-build" --yes -q --json "$@")
copy_ms=$(grep -o '"copy_ms": *[0-9]*' "$work/out" | grep -o '[0-9]*$')
rebuilt=$(tr -d ' \n' < "$work/out" | grep -o '"rebuilt_clips":\[[^]]*\]')
read -r cp_s cp_kb < <(measure cp -r "$disc" "$work/out-cp")
printf 'disc: %.2f GB (%s)\n' "$(awk -v b="$total" 'BEGIN { print b / 1e9 }')" "$rebuilt"
printf 'tessel build: %6.2f s  %8s MB/s  peak RSS %6d kB  copy step %.2f s (%.0f%% of the build)\n' \
  "$build_s" "$(rate "$build_s")" "$build_kb" "$(awk -v m="$copy_ms" 'BEGIN { print m / 1000 }')" \
  "$(awk -v m="$copy_ms" -v s="$build_s" 'BEGIN { print (s > 0 ? m / 10 / s : 0) }')"
printf 'cp -r       : %6.2f s  %8s MB/s  peak RSS %6d kB\n' "$cp_s" "$(rate "$cp_s")" "$cp_kb"
rm -rf "$work/out-build" "$work/out-cp"
