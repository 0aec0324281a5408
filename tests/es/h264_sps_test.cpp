// The checks on the first sequence parameter set, fed with sets written field by field, and the
// picture order count rules.
#include <gtest/gtest.h>

#include <functional>

#include "es/h264.h"
#include "es/h264_syntax.h"
#include "formats/field_access.h"
#include "support/test_support.h"

namespace tessel {
namespace {

struct SpsFields {
  uint8_t profile = 100, level = 41;
  uint32_t chroma = 1;
  bool gaps = false;
  uint32_t width_mbs = 120, height_map_units = 68;  // 1920x1088 before cropping
  bool frame_mbs_only = true;
  uint32_t poc_type = 2;     // with type 0 the POC lsb field has 8 bits
  uint32_t crop_bottom = 4;  // 1088 - 2 x 4 = 1080
  bool vui = true, aspect = true;
  uint8_t aspect_idc = 1;
  uint16_t sar_w = 0, sar_h = 0;
  bool timing = true;
  uint32_t units = 1001, scale = 48000;
  bool fixed = true, nal_hrd = true, low_delay = false;
  uint32_t bit_rate_minus1 = 39999, cpb_minus1 = 29999;  // with scales 0 and 0 (x64, x16)
  uint8_t bit_rate_scale = 0, cpb_scale = 0;
};

class EgWriter {
 public:
  void Bits(uint64_t v, unsigned n) { w_.Bits(v, n); }
  void Ue(uint32_t v) {
    const uint64_t x = uint64_t{v} + 1;
    unsigned len = 0;
    while ((x >> len) > 1) ++len;
    w_.Bits(0, len);
    w_.Bits(x, len + 1);
  }
  std::vector<uint8_t> Finish() {
    w_.Bits(1, 1);
    w_.AlignToByte();
    return w_.bytes();
  }

 private:
  BitWriter w_;
};

std::vector<uint8_t> Nal(uint8_t header, EgWriter& w);

std::vector<uint8_t> Sps(const SpsFields& f) {
  EgWriter w;
  w.Bits(f.profile, 8);
  w.Bits(0, 8);
  w.Bits(f.level, 8);
  w.Ue(0);  // seq_parameter_set_id
  if (f.profile == 100) {
    w.Ue(f.chroma);
    w.Ue(0);
    w.Ue(0);
    w.Bits(0, 2);  // qpprime, no scaling matrix
  }
  w.Ue(0);  // log2_max_frame_num_minus4
  w.Ue(f.poc_type);
  if (f.poc_type == 0) w.Ue(4);  // log2_max_pic_order_cnt_lsb_minus4
  w.Ue(4);                       // max_num_ref_frames
  w.Bits(f.gaps, 1);
  w.Ue(f.width_mbs - 1);
  w.Ue(f.height_map_units - 1);
  w.Bits(f.frame_mbs_only, 1);
  if (!f.frame_mbs_only) w.Bits(0, 1);
  w.Bits(1, 1);  // direct_8x8_inference_flag
  w.Bits(f.crop_bottom != 0, 1);
  if (f.crop_bottom != 0) {
    w.Ue(0);
    w.Ue(0);
    w.Ue(0);
    w.Ue(f.crop_bottom);
  }
  w.Bits(f.vui, 1);
  if (f.vui) {
    w.Bits(f.aspect, 1);
    if (f.aspect) {
      w.Bits(f.aspect_idc, 8);
      if (f.aspect_idc == 255) {
        w.Bits(f.sar_w, 16);
        w.Bits(f.sar_h, 16);
      }
    }
    w.Bits(0, 3);  // overscan, video signal, chroma location
    w.Bits(f.timing, 1);
    if (f.timing) {
      w.Bits(f.units, 32);
      w.Bits(f.scale, 32);
      w.Bits(f.fixed, 1);
    }
    w.Bits(f.nal_hrd, 1);
    if (f.nal_hrd) {
      w.Ue(0);
      w.Bits(f.bit_rate_scale, 4);
      w.Bits(f.cpb_scale, 4);
      w.Ue(f.bit_rate_minus1);
      w.Ue(f.cpb_minus1);
      w.Bits(0, 1);
      w.Bits(0x3FFFFF, 20);  // the four length fields
    }
    w.Bits(0, 1);  // vcl_hrd_parameters_present_flag
    if (f.nal_hrd) w.Bits(f.low_delay, 1);
    w.Bits(0, 2);  // pic_struct_present_flag, bitstream_restriction_flag
  }
  return Nal(0x67, w);
}

// A start code, the NAL header byte and the encapsulated body.
std::vector<uint8_t> Nal(uint8_t header, EgWriter& w) {
  std::vector<uint8_t> nal = {0, 0, 0, 1, header};
  const auto body = w.Finish();
  int zeros = 0;
  for (const uint8_t b : body) {
    if (zeros >= 2 && b <= 3) {
      nal.push_back(3);
      zeros = 0;
    }
    nal.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return nal;
}

int AnalyzeSps(const SpsFields& f, H264Analysis& a) {
  const auto bytes = Sps(f);
  MemoryByteSource source(bytes);
  return AnalyzeH264(source, nullptr, a);
}

TEST(H264FirstSet, ChecksInOrder) {
  struct Case {
    const char* what;
    std::function<void(SpsFields&)> change;
    int result;
  } const cases[] = {
      {"sound 1080p23.976", [](SpsFields&) {}, 0},
      {"1440x1080 with 4:3 pixels",
       [](SpsFields& f) {
         f.width_mbs = 90;
         f.aspect_idc = 14;
         f.frame_mbs_only = false;
         f.height_map_units = 34;
         f.crop_bottom = 2;
         f.scale = 60000;
       },
       0},
      {"1440x1080 with square pixels",
       [](SpsFields& f) {
         f.width_mbs = 90;
         f.frame_mbs_only = false;
         f.height_map_units = 34;
         f.crop_bottom = 2;
         f.scale = 60000;
       },
       25},
      {"Baseline", [](SpsFields& f) { f.profile = 66; }, 22},
      {"4:2:2", [](SpsFields& f) { f.chroma = 2; }, 29},
      {"frame gaps", [](SpsFields& f) { f.gaps = true; }, 36},
      {"no VUI", [](SpsFields& f) { f.vui = false; }, 39},
      {"no aspect", [](SpsFields& f) { f.aspect = false; }, 13},
      {"no timing", [](SpsFields& f) { f.timing = false; }, 40},
      {"zero time scale", [](SpsFields& f) { f.scale = 0; }, 40},
      {"variable rate", [](SpsFields& f) { f.fixed = false; }, 41},
      {"low delay", [](SpsFields& f) { f.low_delay = true; }, 44},
      {"CPB 30000016 bits", [](SpsFields& f) { f.cpb_minus1 = 1875000; }, 43},
      {"40000064 bit/s", [](SpsFields& f) { f.bit_rate_minus1 = 625000; }, 9},
      {"level 5.1", [](SpsFields& f) { f.level = 51; }, 23},
      {"1280x1080", [](SpsFields& f) { f.width_mbs = 80; }, 24},
  };
  for (const Case& c : cases) {
    SpsFields f;
    c.change(f);
    test::ScopedRecordingPrompt prompt;
    H264Analysis a;
    EXPECT_EQ(AnalyzeSps(f, a), c.result) << c.what;
    EXPECT_TRUE(prompt.entries().empty()) << c.what;
  }
}

TEST(H264FirstSet, RecordTakesTheSetsValues) {
  SpsFields f;
  f.aspect_idc = 255;
  f.sar_w = 4;
  f.sar_h = 3;
  f.width_mbs = 45;  // 720x480
  f.height_map_units = 30;
  f.crop_bottom = 0;
  f.level = 30;
  f.scale = 60000;
  H264Analysis a;
  // An explicit ratio gives the aspect code, yet standard definition wants index 3 or 5.
  ASSERT_EQ(AnalyzeSps(f, a), 25);
  EXPECT_EQ(a.video.aspect_code, 3);  // 4:3 pixels on 720x480 are not a 4:3 picture
  SpsFields g;
  g.cpb_scale = 1;
  g.cpb_minus1 = 99;
  g.bit_rate_scale = 2;
  g.bit_rate_minus1 = 999;
  ASSERT_EQ(AnalyzeSps(g, a), 0);
  EXPECT_EQ(a.cpb_size, 100u << 5);
  EXPECT_EQ(a.bit_rate, 1000u << 8);
  EXPECT_EQ(a.video.width, 1920u);
  EXPECT_EQ(a.video.height, 1080u);
  EXPECT_EQ(a.video.frame_rate_code, 1);
  EXPECT_NEAR(a.au_duration, 1001.0 / 24, 1e-9);
}

// An unknown rate is told to the user and refused.
TEST(H264FirstSet, UnknownFrameRateIsReported) {
  SpsFields f;
  f.scale = 60000;
  f.units = 1000;  // 30 frames/s
  test::ScopedRecordingPrompt prompt;
  H264Analysis a;
  EXPECT_EQ(AnalyzeSps(f, a), 26);
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.messages()[0], "Error: Unsupported FrameRate value 30.000! ");
}

std::vector<uint8_t> Pps() {
  EgWriter w;
  w.Ue(0);
  w.Ue(0);
  w.Bits(1, 1);  // entropy_coding_mode_flag
  w.Bits(0, 1);  // bottom_field_pic_order_in_frame_present_flag
  w.Ue(0);       // num_slice_groups_minus1
  w.Ue(0);
  w.Ue(0);
  w.Bits(0, 3);
  w.Ue(0);
  w.Ue(0);
  w.Ue(0);
  w.Bits(0b100, 3);  // deblocking control, no constrained intra, no redundant_pic_cnt
  return Nal(0x68, w);
}

// One field slice (POC type 0 with an 8-bit lsb and a 4-bit frame_num, as the set above writes),
// with filler bytes in place of the slice data.
std::vector<uint8_t> FieldSlice(char type, bool idr, bool ref, uint32_t frame_num, bool bottom,
                                uint32_t poc_lsb) {
  EgWriter w;
  w.Ue(0);  // first_mb_in_slice
  w.Ue(type == 'I' ? 7 : type == 'P' ? 5 : 6);
  w.Ue(0);
  w.Bits(frame_num, 4);
  w.Bits(1, 1);  // field_pic_flag
  w.Bits(bottom, 1);
  if (idr) w.Ue(0);
  w.Bits(poc_lsb, 8);
  if (type == 'B') w.Bits(1, 1);
  w.Bits(0x55AA55AA, 32);
  const uint8_t header = static_cast<uint8_t>((ref ? 0x40 : 0) | (idr ? 5 : 1));
  return Nal(header, w);
}

// 1080i coded as field pairs: every frame is two field pictures, the IDR frame an IDR top field
// and a P bottom field; a B frame is shown between the two P frames it is decoded after.
TEST(H264FieldPairs, OneEntryPerFrame) {
  for (const bool delimiters : {false, true}) {
    SpsFields f;
    f.frame_mbs_only = false;
    f.height_map_units = 34;
    f.crop_bottom = 2;
    f.scale = 60000;
    f.poc_type = 0;
    std::vector<uint8_t> stream;
    const auto add = [&stream](const std::vector<uint8_t>& nal) {
      stream.insert(stream.end(), nal.begin(), nal.end());
    };
    std::vector<size_t> frame_starts;
    const struct {
      char top, bottom;
      bool idr, ref;
      uint32_t frame_num, shown;
    } frames[] = {{'I', 'P', true, true, 0, 0},
                  {'P', 'P', false, true, 1, 2},
                  {'B', 'B', false, false, 2, 1},
                  {'P', 'P', false, true, 2, 3},
                  {'I', 'P', true, true, 0, 0}};
    for (const auto& fr : frames) {
      frame_starts.push_back(stream.size());
      if (delimiters) add({0, 0, 0, 1, 0x09, 0xF0});
      if (fr.idr) {
        add(Sps(f));
        add(Pps());
      }
      add(FieldSlice(fr.top, fr.idr, fr.ref, fr.frame_num, false, 2 * fr.shown));
      if (delimiters) add({0, 0, 0, 1, 0x09, 0xF0});
      add(FieldSlice(fr.bottom, false, fr.ref, fr.frame_num, true, 2 * fr.shown + 1));
    }
    MemoryByteSource source(stream);
    H264Analysis a;
    ASSERT_EQ(AnalyzeH264(source, nullptr, a), 0) << delimiters;
    EXPECT_FALSE(a.video.progressive);
    EXPECT_EQ(a.video.video_format, 4);
    EXPECT_NEAR(a.au_duration, 1001.0 / 30, 1e-9);
    ASSERT_EQ(a.au_count, 5u);
    ASSERT_EQ(a.units.size(), 5u);
    ASSERT_EQ(a.gops.size(), 2u);
    EXPECT_EQ(a.gops[0].count, 4u);
    const uint32_t types[] = {1, 2, 3, 2, 1};
    for (size_t i = 0; i < 5; ++i) {
      const auto& u = a.units[i];
      EXPECT_EQ(u.offset, frame_starts[i]) << i;
      const size_t end = i + 1 < 5 ? frame_starts[i + 1] : stream.size();
      EXPECT_EQ(u.size, end - frame_starts[i]) << i;
      EXPECT_EQ(u.flags & 7, types[i]) << i;
      EXPECT_EQ(u.extra, 3u) << i;  // field picture, one field period each
      const uint32_t shown = i < 4 ? frames[i].shown : 4;
      EXPECT_EQ(u.pts, 131070u + 3003u * shown) << i;
      EXPECT_EQ(u.dts, 131070u + 3003u * i - 3003u) << i;
    }
    EXPECT_EQ(a.units[0].flags & video::kRandomAccessFlag, video::kRandomAccessFlag);
    EXPECT_EQ(a.units[4].flags & video::kRandomAccessFlag, video::kRandomAccessFlag);
  }
}

H264SliceHeader Slice(const H264Sps& sps, uint8_t nal_type, uint8_t ref, uint32_t frame_num,
                      uint32_t lsb = 0) {
  H264SliceHeader s;
  s.sps = &sps;
  s.nal_unit_type = nal_type;
  s.nal_ref_idc = ref;
  s.frame_num = frame_num;
  s.pic_order_cnt_lsb = lsb;
  return s;
}

TEST(H264Poc, Type0WrapsTheLsb) {
  H264Sps sps;
  sps.pic_order_cnt_type = 0;
  sps.log2_max_pic_order_cnt_lsb = 4;  // lsb wraps at 16
  H264PocState poc;
  const uint32_t lsbs[] = {0, 6, 12, 2, 8, 14, 4};
  const int32_t expected[] = {0, 6, 12, 18, 24, 30, 36};
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(poc.Compute(Slice(sps, i == 0 ? 5 : 1, 1, 0, lsbs[i])), expected[i]) << i;
  }
  // An IDR starts again from 0.
  EXPECT_EQ(poc.Compute(Slice(sps, 5, 1, 0, 2)), 2);
}

TEST(H264Poc, Type2FollowsFrameNum) {
  H264Sps sps;
  sps.pic_order_cnt_type = 2;
  sps.log2_max_frame_num = 4;
  H264PocState poc;
  EXPECT_EQ(poc.Compute(Slice(sps, 5, 1, 0)), 0);
  EXPECT_EQ(poc.Compute(Slice(sps, 1, 1, 1)), 2);
  EXPECT_EQ(poc.Compute(Slice(sps, 1, 0, 2)), 3);  // non-reference: one less
  EXPECT_EQ(poc.Compute(Slice(sps, 1, 1, 15)), 30);
  EXPECT_EQ(poc.Compute(Slice(sps, 1, 1, 0)), 32);  // frame_num wrapped
}

TEST(H264Poc, Type1UsesTheReferenceCycle) {
  H264Sps sps;
  sps.pic_order_cnt_type = 1;
  sps.log2_max_frame_num = 4;
  sps.offset_for_ref_frame = {4, 2};
  sps.offset_for_non_ref_pic = -1;
  H264PocState poc;
  EXPECT_EQ(poc.Compute(Slice(sps, 5, 1, 0)), 0);
  EXPECT_EQ(poc.Compute(Slice(sps, 1, 1, 1)), 4);
  EXPECT_EQ(poc.Compute(Slice(sps, 1, 1, 2)), 6);
  EXPECT_EQ(poc.Compute(Slice(sps, 1, 1, 3)), 10);
  EXPECT_EQ(poc.Compute(Slice(sps, 1, 0, 4)), 9);  // expected of frame 3, minus one
}

}  // namespace
}  // namespace tessel
