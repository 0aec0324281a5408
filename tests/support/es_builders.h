// Builders of small elementary-stream files for the analysis tests: graphics segment files (there
// is no free encoder of Blu-ray graphics), WAVE files with chosen chunks, and an ffprobe runner
// used as an independent reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace tessel::test {

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Big-endian appends.
inline void Put8(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
}
inline void Put16(std::vector<uint8_t>& b, uint32_t v) {
  Put8(b, v >> 8);
  Put8(b, v);
}
inline void Put24(std::vector<uint8_t>& b, uint32_t v) {
  Put8(b, v >> 16);
  Put16(b, v);
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v);
}

// A presentation or interactive graphics segment file in "PG"/"IG" framing.
class GraphicsFileBuilder {
 public:
  struct Object {
    uint16_t id = 0;
    uint16_t x = 0, y = 0;
  };

  explicit GraphicsFileBuilder(uint16_t width = 1920, uint16_t height = 1080,
                               uint8_t frame_rate = 1, const char* letters = "PG")
      : width_(width), height_(height), frame_rate_(frame_rate), letters_(letters) {}

  // One segment: letters, PTS, DTS, type, length, data.
  void Segment(uint32_t pts, uint32_t dts, uint8_t type, const std::vector<uint8_t>& data) {
    bytes_.push_back(static_cast<uint8_t>(letters_[0]));
    bytes_.push_back(static_cast<uint8_t>(letters_[1]));
    Put32(bytes_, pts);
    Put32(bytes_, dts);
    Put8(bytes_, type);
    Put16(bytes_, static_cast<uint32_t>(data.size()));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }

  // Presentation composition: state 0 normal, 1 acquisition point, 2 epoch start.
  void Pcs(uint32_t pts, uint32_t dts, uint8_t state, const std::vector<Object>& objects) {
    std::vector<uint8_t> d = VideoAndComposition(state);
    Put8(d, 0);  // palette update flag
    Put8(d, 0);  // palette id
    Put8(d, static_cast<uint32_t>(objects.size()));
    for (const Object& o : objects) {
      Put16(d, o.id);
      Put8(d, 0);  // window id
      Put8(d, 0);  // not cropped, not forced
      Put16(d, o.x);
      Put16(d, o.y);
    }
    Segment(pts, dts, 0x16, d);
  }

  void Wds(uint32_t pts, uint32_t dts, uint16_t x, uint16_t y, uint16_t w, uint16_t h) {
    std::vector<uint8_t> d;
    Put8(d, 1);
    Put8(d, 0);
    Put16(d, x);
    Put16(d, y);
    Put16(d, w);
    Put16(d, h);
    Segment(pts, dts, 0x17, d);
  }

  void Pds(uint32_t pts, uint32_t dts) {
    std::vector<uint8_t> d = {0, 0};  // palette id, version
    for (uint8_t entry : {0, 1}) {
      Put8(d, entry);
      for (uint8_t v :
           {uint8_t(entry ? 235 : 16), uint8_t(128), uint8_t(128), uint8_t(entry ? 255 : 0)}) {
        Put8(d, v);
      }
    }
    Segment(pts, dts, 0x14, d);
  }

  // An object of w x h pixels of palette entry 1, run-length coded line by line.
  void Ods(uint32_t pts, uint32_t dts, uint16_t id, uint16_t w, uint16_t h) {
    std::vector<uint8_t> rle;
    for (uint16_t line = 0; line < h; ++line) {
      if (w < 3) {
        for (uint16_t i = 0; i < w; ++i) Put8(rle, 1);
      } else if (w < 64) {
        Put8(rle, 0);
        Put8(rle, 0x80 | w);
        Put8(rle, 1);
      } else {
        Put8(rle, 0);
        Put16(rle, 0xC000 | w);
        Put8(rle, 1);
      }
      Put16(rle, 0);  // end of line
    }
    std::vector<uint8_t> d;
    Put16(d, id);
    Put8(d, 0);     // version
    Put8(d, 0xC0);  // first and last in sequence
    Put24(d, static_cast<uint32_t>(rle.size() + 4));
    Put16(d, w);
    Put16(d, h);
    d.insert(d.end(), rle.begin(), rle.end());
    Segment(pts, dts, 0x15, d);
  }

  void End(uint32_t pts, uint32_t dts) { Segment(pts, dts, 0x80, {}); }

  // A complete display set showing one object (PCS, WDS, PDS, ODS, END) at `pts`.
  void ShowSet(uint32_t pts, uint8_t state, uint16_t object_id = 0) {
    const uint32_t dts = pts > 9000 ? pts - 9000 : 0;
    Pcs(pts, dts, state, {{object_id, 100, 100}});
    Wds(pts, dts, 100, 100, 64, 16);
    Pds(pts, dts);
    Ods(pts, dts, object_id, 64, 16);
    End(pts, dts);
  }
  // A display set that clears the screen: a PCS without objects, WDS, END.
  void ClearSet(uint32_t pts) {
    const uint32_t dts = pts > 900 ? pts - 900 : 0;
    Pcs(pts, dts, 0, {});
    Wds(pts, dts, 100, 100, 64, 16);
    End(pts, dts);
  }

  // Interactive composition with its stream model bit (0 multiplexed, 1 not).
  void Ics(uint32_t pts, uint32_t dts, uint8_t state, uint8_t stream_model) {
    std::vector<uint8_t> d = VideoAndComposition(state);
    Put8(d, 0xC0);  // sequence descriptor: first and last
    std::vector<uint8_t> body;
    Put8(body, stream_model << 7);  // stream model, user interface model
    if (stream_model == 0) {
      Put32(body, 0);  // composition time-out (33 bits) and selection time-out
      Put32(body, 0);
      Put16(body, 0);
    }
    Put24(body, 0);  // user time-out duration
    Put8(body, 0);   // number of pages
    Put24(d, static_cast<uint32_t>(body.size()));
    d.insert(d.end(), body.begin(), body.end());
    Segment(pts, dts, 0x18, d);
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> VideoAndComposition(uint8_t state) {
    std::vector<uint8_t> d;
    Put16(d, width_);
    Put16(d, height_);
    Put8(d, static_cast<uint32_t>(frame_rate_) << 4);
    Put16(d, composition_number_++);
    Put8(d, static_cast<uint32_t>(state) << 6);
    return d;
  }

  uint16_t width_, height_;
  uint8_t frame_rate_;
  const char* letters_;
  uint16_t composition_number_ = 0;
  std::vector<uint8_t> bytes_;
};

// A RIFF/WAVE file with a chosen format block and chunks.
struct WavParams {
  uint16_t format_tag = 1;
  uint16_t channels = 2;
  uint32_t rate = 48000;
  uint16_t bits = 16;
  uint16_t valid_bits = 16;
  uint32_t channel_mask = 3;
  uint16_t extension_size = 22;  // extensible only
  bool cb_size = false;          // format 1 with an 18-byte block (empty extension)
  uint32_t data_bytes = 9600;
  bool list_chunk = false;  // a LIST chunk (odd length) between "fmt " and "data"
  bool data_chunk = true;
};

inline std::vector<uint8_t> MakeWav(const WavParams& s) {
  std::vector<uint8_t> b;
  auto le16 = [&b](uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto le32 = [&](uint32_t v) {
    le16(v & 0xFFFF);
    le16(v >> 16);
  };
  auto tag = [&b](const char* t) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(t[i]));
  };
  const uint16_t align = static_cast<uint16_t>(s.channels * (s.bits / 8));
  tag("RIFF");
  le32(0);
  tag("WAVE");
  tag("fmt ");
  const bool extensible = s.format_tag == 0xFFFE;
  le32(extensible ? 18u + s.extension_size : (s.cb_size ? 18 : 16));
  le16(s.format_tag);
  le16(s.channels);
  le32(s.rate);
  le32(s.rate * align);
  le16(align);
  le16(s.bits);
  if (extensible) {
    le16(s.extension_size);
    if (s.extension_size >= 22) {
      le16(s.valid_bits);
      le32(s.channel_mask);
      le32(1);  // KSDATAFORMAT_SUBTYPE_PCM
      le16(0x0000);
      le16(0x0010);
      for (uint8_t v : {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) b.push_back(v);
    } else {
      for (uint16_t i = 0; i < s.extension_size; ++i) b.push_back(0);
    }
  } else if (s.cb_size) {
    le16(0);
  }
  if (s.list_chunk) {
    tag("LIST");
    le32(5);
    for (char c : {'I', 'N', 'F', 'O', 'x', '\0'}) b.push_back(static_cast<uint8_t>(c));  // and pad
  }
  if (s.data_chunk) {
    tag("data");
    le32(s.data_bytes);
    for (uint32_t i = 0; i < s.data_bytes; ++i) b.push_back(static_cast<uint8_t>(i * 7));
  }
  const uint32_t riff = static_cast<uint32_t>(b.size() - 8);
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
  return b;
}

// What ffprobe says about the first stream of a file (key=value lines); empty when ffprobe is
// missing or fails.
inline std::map<std::string, std::string> FfprobeStream(const std::filesystem::path& file) {
  std::map<std::string, std::string> values;
  const std::string command =
      "ffprobe -v error -count_frames -select_streams a:0 -show_entries "
      "stream=codec_name,profile,channels,channel_layout,sample_rate,bit_rate,"
      "nb_read_frames,bits_per_sample,bits_per_raw_sample,sample_fmt,duration "
      "-of default=noprint_wrappers=1 '" +
      file.string() + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return values;
  char line[512];
  while (fgets(line, sizeof line, pipe)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t eq = text.find('=');
    if (eq != std::string::npos) values[text.substr(0, eq)] = text.substr(eq + 1);
  }
  pclose(pipe);
  return values;
}

inline bool HaveFfprobe() {
  return std::system("ffprobe -version >/dev/null 2>&1") == 0;
}

}  // namespace tessel::test
