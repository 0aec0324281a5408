#!/usr/bin/env bash
# Makes the small elementary-stream fixtures of tests/data/es/ with Debian's ffmpeg. Deterministic:
# bit-exact encoders, no metadata. Run from anywhere; writes next to this script.
#   tests/data/make-es.sh          the committed fixtures
#   tests/data/make-es.sh --bench  large benchmark inputs in ${TMPDIR:-/tmp}/tessel-bench (not committed)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$here/es"
FF=(ffmpeg -hide_banner -loglevel error -y -fflags +bitexact)
S10="0.25*sin(2*PI*440*t)"
S20="0.25*sin(2*PI*440*t)|0.25*sin(2*PI*554*t)"
S51="0.25*sin(2*PI*440*t)|0.25*sin(2*PI*554*t)|0.25*sin(2*PI*659*t)|0.25*sin(2*PI*60*t)|0.25*sin(2*PI*784*t)|0.25*sin(2*PI*880*t)"
S71="$S51|0.25*sin(2*PI*988*t)|0.25*sin(2*PI*1047*t)"

# src SIGNAL LAYOUT RATE SECONDS -> lavfi input arguments
src() { echo "-f lavfi -i aevalsrc=$1:s=$3:c=$2 -t $4"; }
enc() {  # enc OUTPUT SIGNAL LAYOUT RATE SECONDS CODEC-ARGS...
  local file=$1 sig=$2 layout=$3 rate=$4 secs=$5
  shift 5
  # shellcheck disable=SC2046
  "${FF[@]}" $(src "$sig" "$layout" "$rate" "$secs") -map_metadata -1 -flags +bitexact "$@" "$file"
}

if [ "${1:-}" = "--bench" ]; then
  bench=${TMPDIR:-/tmp}/tessel-bench
  mkdir -p "$bench"
  enc "$bench/large_51_640k.ac3" "$S51" 5.1 48000 600 -c:a ac3 -b:a 640k
  enc "$bench/large_51_24bit.wav" "$S51" 5.1 48000 120 -c:a pcm_s24le
  ls -l "$bench"
  exit 0
fi

mkdir -p "$out"
cd "$out"
# AC-3 at several rates and layouts, E-AC-3 alone.
enc ac3_10_96k.ac3 "$S10" mono 48000 1 -c:a ac3 -b:a 96k
enc ac3_20_192k.ac3 "$S20" stereo 48000 1 -c:a ac3 -b:a 192k
enc ac3_51_448k.ac3 "$S51" 5.1 48000 1 -c:a ac3 -b:a 448k
enc ac3_51_640k.ac3 "$S51" 5.1 48000 1 -c:a ac3 -b:a 640k
enc ac3_20_192k_44k.ac3 "$S20" stereo 44100 0.2 -c:a ac3 -b:a 192k
enc eac3_20_128k.eac3 "$S20" stereo 48000 1 -c:a eac3 -b:a 128k
enc eac3_51_384k.eac3 "$S51" 5.1 48000 1 -c:a eac3 -b:a 384k
# AC-3 core frames alternating with E-AC-3 frames, starting with either kind.
python3 - <<'PY'
def frames(name):
    data = open(name, "rb").read()
    out, pos = [], 0
    while pos + 6 <= len(data):
        if data[pos + 5] >> 3 == 16:
            size = ((data[pos + 2] & 7) << 8 | data[pos + 3]) * 2 + 2
        else:
            words = [64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768,
                     896, 1024, 1152, 1280]
            size = words[(data[pos + 4] & 0x3F) // 2] * 2
        out.append(data[pos:pos + size])
        pos += size
    return out
core, ext = frames("ac3_20_192k.ac3"), frames("eac3_20_128k.eac3")
n = min(len(core), len(ext))
open("ac3_eac3_20.ac3", "wb").write(b"".join(c + e for c, e in zip(core[:n], ext[:n])))
open("eac3_ac3_20.ac3", "wb").write(ext[0] + b"".join(c + e for c, e in zip(core[:n - 1], ext[1:n])))
PY
# LPCM in WAV: 16/24-bit, mono to 7.1, 48/96 kHz; more than 2 channels or 16 bits gives the
# extensible format.
enc lpcm_10_16bit_48k.wav "$S10" mono 48000 0.1 -c:a pcm_s16le
enc lpcm_20_16bit_48k.wav "$S20" stereo 48000 0.25 -c:a pcm_s16le
enc lpcm_20_24bit_96k.wav "$S20" stereo 96000 0.25 -c:a pcm_s24le
enc lpcm_51_24bit_48k.wav "$S51" 5.1 48000 0.25 -c:a pcm_s24le
enc lpcm_51_16bit_96k.wav "$S51" 5.1 96000 0.1 -c:a pcm_s16le
enc lpcm_71_16bit_48k.wav "$S71" 7.1 48000 0.1 -c:a pcm_s16le
enc lpcm_20_16bit_44k.wav "$S20" stereo 44100 0.1 -c:a pcm_s16le
# TrueHD with its AC-3 companion (same name, extension .ac3).
enc truehd_51.thd "$S51" 5.1 48000 0.5 -c:a truehd -strict -2 -sample_fmt s16
enc truehd_51.ac3 "$S51" 5.1 48000 0.5 -c:a ac3 -b:a 448k
# DTS core.
enc dts_51_768k.dts "$S51" "5.1(side)" 48000 0.5 -c:a dca -strict -2 -b:a 768k
enc dts_20_768k.dts "$S20" stereo 48000 0.5 -c:a dca -strict -2 -b:a 768k
ls -l "$out"
