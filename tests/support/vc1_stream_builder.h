// Writes small VC-1 Advanced Profile streams for the tests: sequence headers, entry points and
// frame headers with chosen values, each behind its start code and encapsulated (00 00 03) so
// that no header emulates a start code. Frame payloads are filler bytes, not coded pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/field_access.h"

namespace tessel::test {

struct Vc1Params {
  uint8_t profile = 3;
  uint8_t level = 3;
  uint16_t max_coded_width = 959;   // 1920 wide
  uint16_t max_coded_height = 539;  // 1080 high
  bool pulldown = true;
  bool interlace = false;
  bool tfcntr = false;
  bool psf = false;
  bool display_ext = true;
  uint16_t disp_horiz_size = 1919;
  uint16_t disp_vert_size = 1079;
  bool aspect_ratio_flag = true;
  uint8_t aspect_ratio = 1;
  uint8_t aspect_horiz = 16, aspect_vert = 9;
  bool framerate_flag = true;
  bool framerate_ind = false;
  uint8_t framerate_nr = 1;  // 24000
  uint8_t framerate_dr = 2;  // 1001
  bool hrd = true;
  uint8_t bit_rate_exponent = 9;     // (rate + 1) << 15
  uint8_t buffer_size_exponent = 8;  // (buffer + 1) << 12
  uint16_t hrd_rate = 1000;          // 32.8 Mbit/s
  uint16_t hrd_buffer = 6000;        // 24.6 Mbit
  bool panscan = false;
  bool coded_size = true;
  uint16_t coded_width = 959, coded_height = 539;
};

class Vc1StreamBuilder {
 public:
  explicit Vc1StreamBuilder(const Vc1Params& p) : p_(p) {}

  Vc1StreamBuilder& SequenceHeader() {
    BitWriter w;
    w.Bits(p_.profile, 2);
    w.Bits(p_.level, 3);
    w.Bits(1, 2);      // COLORDIFF_FORMAT 4:2:0
    w.Bits(7, 3 + 5);  // FRMRTQ_POSTPROC, BITRTQ_POSTPROC
    w.Bits(1, 1);      // POSTPROCFLAG
    w.Bits(p_.max_coded_width, 12);
    w.Bits(p_.max_coded_height, 12);
    w.Flag(p_.pulldown);
    w.Flag(p_.interlace);
    w.Flag(p_.tfcntr);
    w.Flag(true);  // FINTERPFLAG
    w.Flag(true);  // RESERVED
    w.Flag(p_.psf);
    w.Flag(p_.display_ext);
    if (p_.display_ext) {
      w.Bits(p_.disp_horiz_size, 14);
      w.Bits(p_.disp_vert_size, 14);
      w.Flag(p_.aspect_ratio_flag);
      if (p_.aspect_ratio_flag) {
        w.Bits(p_.aspect_ratio, 4);
        if (p_.aspect_ratio == 15) {
          w.Bits(p_.aspect_horiz, 8);
          w.Bits(p_.aspect_vert, 8);
        }
      }
      w.Flag(p_.framerate_flag);
      if (p_.framerate_flag) {
        w.Flag(p_.framerate_ind);
        if (p_.framerate_ind) {
          w.Bits(0x7FFF, 16);
        } else {
          w.Bits(p_.framerate_nr, 8);
          w.Bits(p_.framerate_dr, 4);
        }
      }
      w.Flag(true);  // COLOR_FORMAT_FLAG
      w.Bits(0x010101, 24);
    }
    w.Flag(p_.hrd);
    if (p_.hrd) {
      w.Bits(1, 5);
      w.Bits(p_.bit_rate_exponent, 4);
      w.Bits(p_.buffer_size_exponent, 4);
      w.Bits(p_.hrd_rate, 16);
      w.Bits(p_.hrd_buffer, 16);
    }
    return Unit(0x0F, w);
  }

  Vc1StreamBuilder& EntryPoint() {
    BitWriter w;
    w.Flag(false);  // BROKEN_LINK
    w.Flag(true);   // CLOSED_ENTRY
    w.Flag(p_.panscan);
    w.Bits(0xF, 4);               // REFDIST_FLAG, LOOPFILTER, FASTUVMC, EXTENDED_MV
    w.Bits(1, 2);                 // DQUANT
    w.Bits(3, 2);                 // VSTRANSFORM, OVERLAP
    w.Bits(1, 2);                 // QUANTIZER
    if (p_.hrd) w.Bits(0x80, 8);  // HRD_FULL
    w.Flag(p_.coded_size);
    if (p_.coded_size) {
      w.Bits(p_.coded_width, 12);
      w.Bits(p_.coded_height, 12);
    }
    w.Flag(true);   // EXTENDED_DMV
    w.Flag(false);  // RANGE_MAPY_FLAG
    w.Flag(false);  // RANGE_MAPUV_FLAG
    return Unit(0x0E, w);
  }

  // A frame of type 'I', 'P', 'B', 'b' (BI) or 'S' (skipped); with an interlaced sequence
  // `fcm` 0, 2 or 3 (field pairs code the first field's type).
  Vc1StreamBuilder& Frame(char type, uint8_t fcm = 0) {
    BitWriter w;
    if (p_.interlace) {
      if (fcm == 0) {
        w.Bits(0, 1);
      } else {
        w.Bits(fcm == 2 ? 2 : 3, 2);
      }
    }
    if (fcm == 3) {
      const uint8_t codes[] = {0, 2, 4, 6};  // I/I, P/I, B/B, BI/B
      w.Bits(codes[std::string("IPBb").find(type)], 3);
    } else {
      switch (type) {
        case 'P':
          w.Bits(0, 1);
          break;
        case 'B':
          w.Bits(2, 2);
          break;
        case 'I':
          w.Bits(6, 3);
          break;
        case 'b':
          w.Bits(14, 4);
          break;
        default:
          w.Bits(15, 4);
          break;
      }
    }
    if (p_.tfcntr) w.Bits(0x11, 8);
    if (p_.pulldown) w.Bits(p_.interlace && !p_.psf ? 2 : 1, 2);
    w.Bits(0x5A5A5A5A, 32);  // stand-in for the picture data
    return Unit(0x0D, w);
  }

  // Any other unit (user data, slices, fields).
  Vc1StreamBuilder& Other(uint8_t code) {
    BitWriter w;
    w.Bits(0x4B4B4B, 24);
    return Unit(code, w);
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  Vc1StreamBuilder& Unit(uint8_t code, BitWriter& w) {
    w.Flag(true);  // stop bit, then zero padding
    w.AlignToByte();
    bytes_.insert(bytes_.end(), {0, 0, 1, code});
    int zeros = 0;
    for (const uint8_t b : w.bytes()) {
      if (zeros >= 2 && b <= 3) {
        bytes_.push_back(3);
        zeros = 0;
      }
      bytes_.push_back(b);
      zeros = b == 0 ? zeros + 1 : 0;
    }
    if (zeros > 0) bytes_.push_back(0x80);  // never end on a zero before the next prefix
    return *this;
  }

  Vc1Params p_;
  std::vector<uint8_t> bytes_;
};

}  // namespace tessel::test
