#include "support/ts_oracles.h"

#include "support/test_support.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#if __has_include(<libbluray/clpi_data.h>)
#include <libbluray/clpi_data.h>
#define TESSEL_ORACLES_WITH_LIBBLURAY 1
#endif

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A scratch file removed with the object.
class ScratchFile {
 public:
  ScratchFile() {
    std::string name = (fs::temp_directory_path() / "tessel-oracle-XXXXXX").string();
    const int fd = mkstemp(name.data());
    if (fd >= 0) close(fd);
    path_ = name;
  }
  ~ScratchFile() {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The fields of one line of ffprobe's compact output ("key=value|key=value|...").
std::map<std::string, std::string> Fields(const std::string& line) {
  std::map<std::string, std::string> out;
  std::istringstream in(line);
  std::string item;
  while (std::getline(in, item, '|')) {
    const size_t eq = item.find('=');
    if (eq != std::string::npos) out[item.substr(0, eq)] = item.substr(eq + 1);
  }
  return out;
}

int64_t Number(const std::map<std::string, std::string>& fields, const std::string& key,
               int64_t none) {
  const auto it = fields.find(key);
  if (it == fields.end() || it->second.empty() || it->second == "N/A") return none;
  return std::strtoll(it->second.c_str(), nullptr, 0);
}

std::vector<std::map<std::string, std::string>> ProbeLines(const fs::path& file,
                                                           const std::string& entries,
                                                           const std::string& first_key) {
  const CommandResult r = RunCommand(
      {"ffprobe", "-v", "error", "-show_entries", entries, "-of", "compact=p=0", file.string()});
  std::vector<std::map<std::string, std::string>> out;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(first_key + "=", 0) == 0) out.push_back(Fields(line));
  }
  return out;
}

std::string FfmpegNull(const fs::path& file, const std::string& codec_option,
                       const std::string& codec) {
  const CommandResult r = RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", file.string(),
                                      "-map", "0", codec_option, codec, "-f", "null", "-"});
  if (r.status != 0 && r.err.empty())
    return "ffmpeg failed with status " + std::to_string(r.status);
  return r.err;
}

}  // namespace

fs::path SharedFixtures() {
  return (DataDir() / "../../../shared/fixtures/").lexically_normal();
}

bool HaveTool(const std::string& name) {
  static std::map<std::string, bool> known;
  const auto it = known.find(name);
  if (it != known.end()) return it->second;
  bool found = false;
  if (const char* path = std::getenv("PATH")) {
    std::istringstream dirs(path);
    std::string dir;
    while (!found && std::getline(dirs, dir, ':')) {
      found = !dir.empty() && access((fs::path(dir) / name).c_str(), X_OK) == 0;
    }
  }
  return known[name] = found;
}

CommandResult RunCommand(const std::vector<std::string>& args) {
  CommandResult result;
  if (args.empty()) return result;
  ScratchFile out, err;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) return result;
  if (child == 0) {
    const int in_fd = open("/dev/null", O_RDONLY);
    const int out_fd = open(out.path().c_str(), O_WRONLY | O_TRUNC);
    const int err_fd = open(err.path().c_str(), O_WRONLY | O_TRUNC);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0) _exit(127);
    dup2(in_fd, 0), dup2(out_fd, 1), dup2(err_fd, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadText(out.path());
  result.err = ReadText(err.path());
  return result;
}

std::vector<ProbeStream> ProbeStreams(const fs::path& file) {
  std::vector<ProbeStream> out;
  // ffprobe lists each stream twice, under its program without the tags and then on its own:
  // the fields of both lines make the entry.
  std::map<int, size_t> at;
  for (const auto& f :
       ProbeLines(file, "stream=index,codec_name,codec_type,id:stream_tags=language", "index")) {
    const int index = static_cast<int>(Number(f, "index", -1));
    if (!at.count(index)) {
      at[index] = out.size();
      out.emplace_back().index = index;
    }
    ProbeStream& s = out[at[index]];
    for (const auto& [key, field] : {std::pair{"codec_name", &s.codec},
                                     {"codec_type", &s.type},
                                     {"tag:language", &s.language}}) {
      if (f.count(key) && field->empty()) *field = f.at(key);
    }
    s.pid = static_cast<uint16_t>(Number(f, "id", s.pid));
  }
  return out;
}

std::vector<ProbeStream> StreamsOnPid(const std::vector<ProbeStream>& streams, uint16_t pid) {
  std::vector<ProbeStream> out;
  for (const ProbeStream& s : streams) {
    if (s.pid == pid) out.push_back(s);
  }
  return out;
}

std::vector<ProbePacket> ProbePackets(const fs::path& file) {
  std::vector<ProbePacket> out;
  for (const auto& f :
       ProbeLines(file, "packet=stream_index,pts,dts,pos,flags,size", "stream_index")) {
    ProbePacket p;
    p.stream = static_cast<int>(Number(f, "stream_index", -1));
    p.pos = Number(f, "pos", -1);
    p.pts = Number(f, "pts", kNoTime);
    p.dts = Number(f, "dts", kNoTime);
    p.size = Number(f, "size", 0);
    p.key = f.count("flags") && f.at("flags").find('K') != std::string::npos;
    out.push_back(p);
  }
  return out;
}

std::string FfmpegCopyErrors(const fs::path& file) {
  return FfmpegNull(file, "-c", "copy");
}

std::string FfmpegDecodeErrors(const fs::path& file) {
  return FfmpegNull(file, "-c:s", "copy");
}

std::string FfmpegDemux(const fs::path& file, uint16_t pid, const std::string& format,
                        const fs::path& out, int stream_of_pid) {
  const std::vector<ProbeStream> on_pid = StreamsOnPid(ProbeStreams(file), pid);
  if (stream_of_pid < 0 || static_cast<size_t>(stream_of_pid) >= on_pid.size()) {
    return "ffprobe shows no stream " + std::to_string(stream_of_pid) + " on PID " +
           std::to_string(pid);
  }
  const CommandResult r =
      RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", file.string(), "-map",
                  "0:" + std::to_string(on_pid[static_cast<size_t>(stream_of_pid)].index), "-c",
                  "copy", "-f", format, out.string()});
  if (r.status != 0) return r.err.empty() ? "ffmpeg failed" : r.err;
  return r.err;
}

std::vector<FrameHash> FrameMd5(const fs::path& file, std::optional<uint16_t> pid,
                                const std::string& input_format) {
  std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error"};
  if (!input_format.empty()) args.insert(args.end(), {"-f", input_format});
  args.insert(args.end(), {"-i", file.string()});
  if (pid) {
    const std::vector<ProbeStream> on_pid = StreamsOnPid(ProbeStreams(file), *pid);
    if (on_pid.empty()) return {};
    args.insert(args.end(), {"-map", "0:" + std::to_string(on_pid.front().index)});
  }
  args.insert(args.end(), {"-c", "copy", "-f", "framemd5", "-"});
  const CommandResult r = RunCommand(args);
  std::vector<FrameHash> out;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    // stream, dts, pts, duration, size, hash
    std::vector<std::string> parts;
    std::istringstream fields(line);
    std::string part;
    while (std::getline(fields, part, ',')) parts.push_back(part);
    if (parts.size() < 6) continue;
    const size_t begin = parts[5].find_first_not_of(' ');
    out.push_back({std::strtoll(parts[4].c_str(), nullptr, 10),
                   begin == std::string::npos ? "" : parts[5].substr(begin)});
  }
  return out;
}

const BdEpMap* BdClip::EpMap(uint16_t pid) const {
  for (const BdEpMap& m : ep_maps) {
    if (m.pid == pid) return &m;
  }
  return nullptr;
}

#ifdef TESSEL_ORACLES_WITH_LIBBLURAY
namespace {

// libbluray is loaded at run time, as the clip information tests do, so that the build does not
// depend on it.
class Libbluray {
 public:
  static Libbluray& Get() {
    static Libbluray instance;
    return instance;
  }
  bool ok() const { return read_ && free_; }
  CLPI_CL* Read(const fs::path& path) const { return read_(path.c_str()); }
  void Free(CLPI_CL* clip) const { free_(clip); }

 private:
  Libbluray() : handle_(dlopen("libbluray.so.2", RTLD_NOW | RTLD_LOCAL)) {
    if (!handle_) return;
    read_ = reinterpret_cast<CLPI_CL* (*)(const char*)>(dlsym(handle_, "bd_read_clpi"));
    free_ = reinterpret_cast<void (*)(CLPI_CL*)>(dlsym(handle_, "bd_free_clpi"));
  }

  void* handle_;
  CLPI_CL* (*read_)(const char*) = nullptr;
  void (*free_)(CLPI_CL*) = nullptr;
};

BdEpMap EpMapOf(const CLPI_EP_MAP_ENTRY& e) {
  BdEpMap map{e.pid, e.ep_stream_type, e.num_ep_coarse, {}};
  int coarse = 0;
  for (int i = 0; i < e.num_ep_fine; ++i) {
    while (coarse + 1 < e.num_ep_coarse && e.coarse[coarse + 1].ref_ep_fine_id <= i) ++coarse;
    const CLPI_EP_FINE& fine = e.fine[i];
    uint64_t pts = uint64_t(fine.pts_ep) << 9;
    uint32_t spn = static_cast<uint32_t>(fine.spn_ep);
    if (e.num_ep_coarse > 0) {
      // The coarse PTS holds bits 32..19, the fine one bits 19..9; bit 19 is the fine entry's.
      pts += uint64_t(e.coarse[coarse].pts_ep & ~0x01) << 19;
      spn += e.coarse[coarse].spn_ep & ~0x1FFFFu;
    }
    map.entries.push_back({pts, spn, fine.i_end_position_offset, fine.is_angle_change_point != 0});
  }
  return map;
}

}  // namespace

bool HaveLibbluray() {
  return Libbluray::Get().ok();
}

std::optional<BdClip> ReadClpiWithLibbluray(const fs::path& clpi) {
  const Libbluray& lib = Libbluray::Get();
  if (!lib.ok()) return std::nullopt;
  CLPI_CL* cl = lib.Read(clpi);
  if (!cl) return std::nullopt;
  BdClip clip;
  clip.application_type = cl->clip.application_type;
  clip.ts_recording_rate = cl->clip.ts_recording_rate;
  clip.source_packets = cl->clip.num_source_packets;
  for (int a = 0; a < cl->sequence.num_atc_seq; ++a) {
    const CLPI_ATC_SEQ& atc = cl->sequence.atc_seq[a];
    std::vector<BdStc>& seq = clip.atc_sequences.emplace_back();
    for (int i = 0; i < atc.num_stc_seq; ++i) {
      const CLPI_STC_SEQ& s = atc.stc_seq[i];
      seq.push_back(
          {s.pcr_pid, s.spn_stc_start, s.presentation_start_time, s.presentation_end_time});
    }
  }
  for (int p = 0; p < cl->program.num_prog; ++p) {
    std::vector<BdProgramStream>& streams = clip.programs.emplace_back();
    for (int i = 0; i < cl->program.progs[p].num_streams; ++i) {
      const CLPI_PROG_STREAM& s = cl->program.progs[p].streams[i];
      streams.push_back({s.pid, s.coding_type, s.format, s.rate, s.aspect, s.lang});
    }
  }
  for (int e = 0; e < cl->cpi.num_stream_pid; ++e)
    clip.ep_maps.push_back(EpMapOf(cl->cpi.entry[e]));
  lib.Free(cl);
  return clip;
}
#else
bool HaveLibbluray() {
  return false;
}

std::optional<BdClip> ReadClpiWithLibbluray(const fs::path&) {
  return std::nullopt;
}
#endif

std::vector<std::string> EntryPointsOffKeyPackets(const BdClip& clip,
                                                  const std::vector<ProbeStream>& streams,
                                                  const std::vector<ProbePacket>& packets) {
  std::map<int, uint16_t> pid_of;
  for (const ProbeStream& s : streams) pid_of[s.index] = s.pid;
  std::map<uint16_t, std::set<int64_t>> key_packets;
  for (const ProbePacket& p : packets) {
    if (p.key && p.pos >= 0 && pid_of.count(p.stream))
      key_packets[pid_of[p.stream]].insert(p.pos / 192);
  }
  std::vector<std::string> out;
  for (const BdEpMap& map : clip.ep_maps) {
    const std::set<int64_t>& keys = key_packets[map.pid];
    for (size_t i = 0; i < map.entries.size(); ++i) {
      if (keys.count(map.entries[i].spn)) continue;
      out.push_back("PID " + std::to_string(map.pid) + " entry " + std::to_string(i) + ": SPN " +
                    std::to_string(map.entries[i].spn) + " starts no key packet");
    }
  }
  return out;
}

TsReport ExpectClipConforms(const fs::path& m2ts, const fs::path& clpi,
                            const TsCheckOptions& options) {
  SCOPED_TRACE(m2ts.string());
  TsReport report = CheckTransportStream(m2ts, clpi, options);
  EXPECT_TRUE(report.ok()) << report.Text();
  if (HaveTool("ffmpeg")) {
    EXPECT_EQ(FfmpegCopyErrors(m2ts), "");
    EXPECT_EQ(FfmpegDecodeErrors(m2ts), "");
  }
  if (!HaveLibbluray()) return report;
  const std::optional<BdClip> clip = ReadClpiWithLibbluray(clpi);
  EXPECT_TRUE(clip.has_value()) << "libbluray cannot read " << clpi;
  if (!clip) return report;
  EXPECT_EQ(uint64_t{clip->source_packets}, report.packets);
  EXPECT_EQ(uint64_t{clip->ts_recording_rate} * 8, report.recording_rate);
  if (HaveTool("ffprobe")) {
    std::string off;
    for (const std::string& line :
         EntryPointsOffKeyPackets(*clip, ProbeStreams(m2ts), ProbePackets(m2ts))) {
      off += line + "\n";
    }
    EXPECT_EQ(off, "");
  }
  return report;
}

}  // namespace tessel::test
