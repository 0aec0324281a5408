#!/bin/sh
# Regenerates the small video elementary streams in tests/data/es/video/ (deterministic for a
# given ffmpeg/libx264 build), and with "bench" the large H.264 benchmark input in the temporary folder.
set -eu
cd "$(dirname "$0")/es/video"
FF="ffmpeg -hide_banner -loglevel error -y -nostdin"
X264_COMMON="level=4.1:bluray-compat=1:nal-hrd=vbr:vbv-maxrate=40000:vbv-bufsize=30000:threads=1:sliced-threads=0:force-cfr=1"

if [ "${1:-}" = bench ]; then
  # High-rate 1080p23.976 with the usual disc settings, repeated to 1 GiB: every copy starts
  # with its own sets and IDR, so the concatenation is still one valid Annex B stream.
  $FF -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001" -t 20 -pix_fmt yuv420p \
    -c:v libx264 -preset ultrafast -profile:v high -b:v 38M -maxrate 40M -bufsize 30M \
    -x264-params "$X264_COMMON:keyint=24:aud=1:cabac=1:8x8dct=1" -f h264 ${TMPDIR:-/tmp}/tessel-bench-unit.264
  rm -f ${TMPDIR:-/tmp}/tessel-bench.264
  while [ "$(stat -c %s ${TMPDIR:-/tmp}/tessel-bench.264 2>/dev/null || echo 0)" -lt 1073741824 ]; do
    cat ${TMPDIR:-/tmp}/tessel-bench-unit.264 >>${TMPDIR:-/tmp}/tessel-bench.264
  done
  rm -f ${TMPDIR:-/tmp}/tessel-bench-unit.264
  exit 0
fi

# 1080p23.976, access unit delimiters, 3 B-frames in a strict pyramid, 4 slices, closed GOPs.
$FF -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001" -t 1.5 -pix_fmt yuv420p \
  -c:v libx264 -preset veryfast -crf 45 -sar 1:1 \
  -x264-params "$X264_COMMON:keyint=12:min-keyint=1:bframes=3:b-pyramid=strict:slices=4:aud=1" \
  -f h264 h264_1080p_aud.264

# 720p59.94 without delimiters and with open GOPs (non-IDR I pictures start the later GOPs).
$FF -f lavfi -i "testsrc2=size=1280x720:rate=60000/1001" -t 0.5 -pix_fmt yuv420p \
  -c:v libx264 -preset veryfast -crf 45 -sar 1:1 \
  -x264-params "$X264_COMMON:keyint=12:min-keyint=1:bframes=2:open-gop=1:aud=0" \
  -f h264 h264_720p_noaud_opengop.264

# 1080i29.97 top field first (MBAFF frames carrying both fields, pic_struct in the timing SEI).
$FF -f lavfi -i "testsrc2=size=1920x1080:rate=30000/1001" -t 0.7 -pix_fmt yuv420p \
  -c:v libx264 -preset veryfast -crf 45 -sar 1:1 -flags +ildct+ilme -top 1 \
  -x264-params "$X264_COMMON:keyint=10:min-keyint=1:bframes=2:tff=1:aud=1" \
  -f h264 h264_1080i_tff.264

# 1080p25: a frame rate that 1080p may not carry on a disc.
$FF -f lavfi -i "testsrc2=size=1920x1080:rate=25" -t 0.2 -pix_fmt yuv420p \
  -c:v libx264 -preset veryfast -crf 45 -sar 1:1 -x264-params "$X264_COMMON:keyint=5:aud=1" \
  -f h264 h264_1080p25.264

# MPEG-2 1080i29.97 field-coded frames (I B B P), closed GOPs of 6.
$FF -f lavfi -i "testsrc2=size=1920x1080:rate=30000/1001" -t 0.6 -pix_fmt yuv420p \
  -c:v mpeg2video -q:v 31 -g 6 -bf 2 -flags +ildct+ilme -top 1 -aspect 16:9 \
  -f mpeg2video mpeg2_1080i.m2v

# MPEG-2 720x480 29.97 4:3, field pictures are not made by the encoder; frames only.
$FF -f lavfi -i "testsrc2=size=720x480:rate=30000/1001" -t 0.5 -pix_fmt yuv420p \
  -c:v mpeg2video -q:v 31 -g 9 -bf 2 -aspect 4:3 -f mpeg2video mpeg2_480i.m2v
