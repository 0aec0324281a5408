#!/usr/bin/env bash
# Throughput of `tessel mux` on an H.264 + AC-3 input of 1 GiB or more, against `cp` of the written
# stream and ffmpeg's own BDAV muxer on the same inputs, in one run with a warm cache, with the peak
# resident memory of each. Run from the repository's root:
#   bench/mux_bench.sh [tessel] [--big]
# --big repeats the video four times and more so that the written stream passes 4 GiB, and checks
# that the packet count the command prints times 192 is the file's size.
set -euo pipefail
tessel=${1:-build/default/src/cli/tessel}
big=${2:-}
work=${TMPDIR:-/tmp}/tessel-mux-bench
mkdir -p "$work"
video=/tmp/tessel-bench.264
[ -f "$video" ] || tests/data/make-es-video.sh bench
if [ "$big" = --big ]; then
  large=$work/big.264
  if [ ! -f "$large" ] || [ "$(stat -c %s "$large")" -lt 4400000000 ]; then
    : > "$large"
    while [ "$(stat -c %s "$large")" -lt 4400000000 ]; do cat "$video" >> "$large"; done
  fi
  video=$large
fi
# The AC-3 track lasts as long as the video (1 GiB at 38 Mbit/s is some 226 s).
frames=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$video")
seconds=$(awk -v f="$frames" 'BEGIN { printf "%.3f", f * 1001 / 24000 }')
audio=$work/audio_$frames.ac3
[ -f "$audio" ] || ffmpeg -hide_banner -loglevel error -y -f lavfi \
  -i "sine=frequency=440:sample_rate=48000" -t "$seconds" -ac 6 -c:a ac3 -b:a 640k "$audio"
"$tessel" -q analyse "$video" "$audio" > /dev/null
cat "$video" "$audio" > /dev/null  # into the page cache

measure() {  # wall seconds and peak RSS (kB) of one run
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$work/out" 2> "$work/err" || {
    cat "$work/err" >&2
    exit 1
  }
  cat "$work/time"
}
mb() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f", b / 1e6 }'; }

rm -rf "$work/out_mux" && mkdir -p "$work/out_mux"
read -r mux_s mux_kb < <(measure "$tessel" -q mux --json --out "$work/out_mux" "$video" "$audio")
m2ts=$work/out_mux/00000.m2ts
packets=$(sed -n 's/.*"source_packets": *\([0-9]*\).*/\1/p' "$work/out")
size=$(stat -c %s "$m2ts")
read -r cp_s cp_kb < <(measure cp "$m2ts" "$work/copy.m2ts")
rm -f "$work/copy.m2ts"
read -r ff_s ff_kb < <(measure ffmpeg -hide_banner -loglevel error -y -f h264 -r 24000/1001 \
  -i "$video" -i "$audio" -map 0 -map 1 -c copy -f mpegts -mpegts_m2ts_mode 1 "$work/ffmpeg.m2ts")
ff_mb=$(mb "$work/ffmpeg.m2ts")
rm -f "$work/ffmpeg.m2ts"
awk -v s="$size" -v m="$mux_s" -v mk="$mux_kb" -v c="$cp_s" -v ck="$cp_kb" -v f="$ff_s" \
  -v fk="$ff_kb" -v fm="$ff_mb" -v p="$packets" 'BEGIN {
  mbs = s / 1e6
  printf "written stream %.1f MB, %d packets x 192 = %.0f bytes (%s)\n", mbs, p, p * 192,
         (p * 192 == s) ? "equal to the size" : "NOT the size"
  printf "tessel mux: %7.2f s %8.1f MB/s  peak RSS %6.1f MB\n", m, mbs / m, mk / 1024
  printf "cp:         %7.2f s %8.1f MB/s  peak RSS %6.1f MB\n", c, mbs / c, ck / 1024
  printf "ffmpeg:     %7.2f s %8.1f MB/s  peak RSS %6.1f MB (its output %.1f MB)\n", f, fm / f,
         fk / 1024, fm
}'
