// The program map entry each stream info record fills, checked on the bytes of the entry.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "es/ac3.h"
#include "es/dts.h"
#include "es/graphics.h"
#include "es/h264.h"
#include "es/lpcm.h"
#include "es/mlp.h"
#include "es/mpeg2.h"
#include "es/vc1.h"
#include "formats/field_access.h"
#include "ts/esi.h"

namespace tessel {
namespace {

template <class T>
void SetVideo(T& v) {
  v.video_format = 6;
  v.frame_rate_code = 1;
  v.aspect_code = 3;
  v.level = 41;
  v.profile = 100;
}

struct PmtCase {
  const char* name;
  std::function<std::unique_ptr<CSifData>()> make;
  std::vector<uint8_t> expected;  // the whole entry on PID 0x1011
};

std::vector<PmtCase> Cases() {
  return {
      {"mpeg2",
       [] {
         auto v = std::make_unique<CMpeg2VideoSif>();
         SetVideo(*v);
         return v;
       },
       {0x02, 0xF0, 0x11, 0xF0, 0x0A, 0x05, 0x08, 'H', 'D', 'M', 'V', 0xFF, 0x02, 0x61, 0x3F}},
      {"h264",
       [] {
         auto v = std::make_unique<CH264VideoSif>();
         SetVideo(*v);
         return v;
       },
       {0x1B, 0xF0, 0x11, 0xF0, 0x0A, 0x05, 0x08, 'H', 'D', 'M', 'V', 0xFF, 0x1B, 0x61, 0x3F}},
      {"h264 still picture",
       [] {
         auto v = std::make_unique<CH264VideoSif>();
         SetVideo(*v);
         v->still_flag = 0x80;
         v->constraint_flags = 0xA3;
         return v;
       },
       {0x1B, 0xF0, 0x11, 0xF0, 0x10, 0x05, 0x08, 'H',  'D', 'M', 'V',
        0xFF, 0x1B, 0x61, 0x3F, 0x28, 0x04, 100,  0xA3, 41,  0x80}},
      {"vc1",
       [] {
         auto v = std::make_unique<CVc1Sif>();
         SetVideo(*v);
         v->level = 3;
         return v;
       },
       {0xEA, 0xF0, 0x11, 0xF0, 0x12, 0x05, 0x08, 'H', 'D', 'M',  'V', 0xFF,
        0xEA, 0x61, 0x3F, 0x05, 0x06, 'V',  'C',  '-', '1', 0x01, 0x94}},
      {"lpcm 5.1 24-bit 48 kHz",
       [] {
         auto w = std::make_unique<PCM_WAVE_FORMAT>();
         w->channels = 6;
         w->channel_mask = 0x3F;
         w->samples_per_second = 48000;
         w->bits_per_sample = w->valid_bits_per_sample = 24;
         return w;
       },
       {0x80, 0xF0, 0x11, 0xF0, 0x0A, 0x05, 0x08, 'H', 'D', 'M', 'V', 0xFF, 0x80, 0x61, 0xFF}},
      {"ac3 5.1",
       [] {
         auto a = std::make_unique<AC3_AUDIO_DESCRIPTOR>();
         a->sample_rate_code = 0;
         a->bsid = 8;
         a->bit_rate_code = 15;
         a->num_channels = 7;
         a->acmod = 7;
         return a;
       },
       {0x81, 0xF0, 0x11, 0xF0, 0x0C, 0x05, 0x04, 'A', 'C', '-', '3', 0x81, 0x04, 0x08, 0x3C, 0x0E,
        0x00}},
      {"dts", [] { return std::make_unique<CDTSSif>(); }, {0x82, 0xF0, 0x11, 0xF0, 0x00}},
      {"truehd",
       [] { return std::make_unique<MLP_HEADER_INFO>(); },
       {0x83, 0xF0, 0x11, 0xF0, 0x00}},
      {"pg", [] { return std::make_unique<SGsSif>(); }, {0x90, 0xF0, 0x11, 0xF0, 0x00}},
  };
}

TEST(FillPmtStream, EveryRecordFillsItsEntry) {
  for (const PmtCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    ESI esi;
    esi.ElementaryPid = 0x1011;
    c.make()->FillPmtStream(esi);
    ByteWriter w;
    WriteEsi(w, esi);
    EXPECT_EQ(w.buffer(), c.expected);
  }
}

}  // namespace
}  // namespace tessel
