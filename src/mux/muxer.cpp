#include "mux/muxer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"
#include "ts/psi.h"

namespace tessel {

namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kEarlySendLimit = 81000;  // 90 kHz: a unit leaves at most 0.9 s early
constexpr uint64_t kReportEvery = 0x1800000;
constexpr int kStringMuxing = 1136;

// The PID groups of a written stream, in output order.
struct PidGroup {
  const char* name;
  uint16_t base;
  uint16_t count;
};
constexpr PidGroup kPidGroups[] = {
    {"primary video", 0x1011, 1},
    {"primary audio", 0x1100, 0x20},
    {"presentation graphics", 0x1200, 0x100},
    {"interactive graphics", 0x1400, 0x20},
    {"other", 0x1800, 1},
    {"secondary audio", 0x1A00, 0x20},
    {"secondary video", 0x1B00, 0x20},
};

size_t GroupOf(const SMuxTrack& track) {
  const uint8_t type = track.CodingType();
  if (!track.primary) return IsAudioCodingType(type) ? 5 : 6;
  if (IsVideoCodingType(type)) return 0;
  if (IsAudioCodingType(type)) return 1;
  if (type == coding::kPg) return 2;
  if (type == coding::kIg) return 3;
  return 4;
}

bool IsVideoTrack(const SMuxTrack& track) {
  return IsVideoCodingType(track.CodingType());
}

uint64_t CeilDiv(uint64_t a, uint64_t b) {
  return (a + b - 1) / b;
}

void SetContinuityCounter(uint8_t* packet, uint8_t& counter) {
  packet[3] = static_cast<uint8_t>((packet[3] & 0xF0) | (counter & 0x0F));
  counter = static_cast<uint8_t>((counter + 1) & 0x0F);
}

bool WriteAll(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    const ssize_t written = ::write(fd, data, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    n -= static_cast<size_t>(written);
  }
  return true;
}

// 45 kHz clip time of a 27 MHz value: rounded to 90 kHz, then halved.
uint32_t ClipTime(uint64_t value) {
  return static_cast<uint32_t>(((value + 150) / 300) / 2);
}

}  // namespace

std::optional<std::vector<SMuxTrack*>> BuildTrackList(const std::vector<SMuxTrack*>& candidates,
                                                      std::string* error) {
  std::vector<SMuxTrack*> groups[std::size(kPidGroups)];
  for (SMuxTrack* track : candidates) {
    if (track->original && !track->keep) continue;
    groups[GroupOf(*track)].push_back(track);
  }
  std::vector<SMuxTrack*> list;
  for (size_t g = 0; g < std::size(kPidGroups); ++g) {
    auto& group = groups[g];
    std::stable_sort(group.begin(), group.end(), [](const SMuxTrack* a, const SMuxTrack* b) {
      if (a->order != b->order) return a->order < b->order;
      if (a->output_pid != b->output_pid) return a->output_pid < b->output_pid;
      return a->original < b->original;
    });
    if (group.size() > kPidGroups[g].count) {
      if (error) {
        *error = Format("Too many %s streams: %zu, at most %u fit their PIDs ", kPidGroups[g].name,
                        group.size(), unsigned{kPidGroups[g].count});
      }
      return std::nullopt;
    }
    for (size_t i = 0; i < group.size(); ++i) {
      group[i]->output_pid = kPidGroups[g].base + static_cast<uint32_t>(i);
      list.push_back(group[i]);
    }
  }
  return list;
}

bool CMuxer::Initialise(std::vector<SMuxTrack*> tracks, uint8_t application_type,
                        double frame_duration_ms, uint32_t rate) {
  tracks_ = std::move(tracks);
  application_type_ = application_type;
  frame_duration_ms_ = frame_duration_ms;
  rate_ = rate;
  interval_ = rate == 0 ? 0 : uint64_t{1504} * 27000000 / rate;
  if (interval_ == 0) {
    ShowMessage(Format("Invalid mux rate: %u bit/s ", rate));
    return false;
  }
  pcr_offset_ = uint64_t{81} * 27000000 / rate;
  buffer_.assign(kMuxBufferSize, 0xFF);
  filled_ = 0;
  packets_ = clock_ = last_packet_time_ = next_psi_ = next_pcr_ = 0;
  pcr_written_ = false;
  psi_rounds_ = kPsiRoundsPerSit - 1;  // the first round carries a SIT
  result_ = SMuxResult{};
  result_.ts_recording_rate = rate / 8;

  std::vector<uint16_t> pids;
  for (const SMuxTrack* track : tracks_) pids.push_back(static_cast<uint16_t>(track->output_pid));
  const std::vector<uint8_t> ep_types = ChooseEpStreamTypes(pids, application_type_);
  for (size_t i = 0; i < tracks_.size(); ++i) {
    SMuxTrack& track = *tracks_[i];
    track.key_points_wanted = ep_types[i] != 0;
    track.ep_entry = STREAM_PID_ENTRY{};
    track.ep_entry.StreamPid = pids[i];
    if (ep_types[i] != 0) track.ep_entry.EpStreamType = ep_types[i];
  }
  for (SMuxTrack* track : tracks_) {
    if (!track->Prepare()) return false;
  }
  if (frame_duration_ms_ == 0) {
    const auto video = std::find_if(tracks_.begin(), tracks_.end(),
                                    [](const SMuxTrack* t) { return IsVideoTrack(*t); });
    if (video != tracks_.end()) frame_duration_ms_ = (*video)->FrameDurationMs();
  }
  if (!BuildPmt()) return false;
  BuildSystemPackets();
  return true;
}

bool CMuxer::BuildPmt() {
  PMT pmt;
  if (private_descriptor_) pmt.PrivateProgramDescriptor = *private_descriptor_;
  for (int pass = 0; pass < 2; ++pass) {
    for (const SMuxTrack* track : tracks_) {
      if ((track->primary != 0) != (pass == 0)) continue;
      ESI esi;
      track->FillEsi(esi);
      pmt.Streams.push_back(std::move(esi));
    }
  }
  ByteWriter out;
  if (WritePmt(out, pmt) == 0) {
    ShowMessage(Format("The program map of %zu streams does not fit one section ", tracks_.size()));
    return false;
  }
  pmt_section_ = out.Take();
  return true;
}

// The packets of one section, continuity counters 0 onwards (set again as each goes out).
std::vector<CMuxer::Packet> CMuxer::SectionPackets(std::span<const uint8_t> section, uint16_t pid) {
  std::vector<uint8_t> bytes;
  uint8_t cc = 0;
  WriteSectionPackets(section, pid, cc, bytes);
  std::vector<Packet> packets(bytes.size() / kTransportPacketSize);
  for (size_t i = 0; i < packets.size(); ++i) {
    std::memcpy(packets[i].data(), bytes.data() + i * kTransportPacketSize, kTransportPacketSize);
  }
  return packets;
}

void CMuxer::BuildSystemPackets() {
  pmt_ = SectionPackets(pmt_section_, pid::kPmt);
  ByteWriter section;
  PAT pat = MakeMuxerPat();
  WritePat(section, pat);
  pat_ = SectionPackets(section.Take(), pid::kPat).at(0);
  SIT sit;
  WriteSit(section, sit);
  sit_ = SectionPackets(section.Take(), pid::kSit).at(0);

  TransportPacket pcr;
  pcr.PID = pid::kPcr;
  pcr.PayloadUnitStartIndicator = false;
  pcr.AdaptationFieldControl = 2;
  pcr.Adaptation = AdaptationField{};
  pcr.Adaptation->Pcr = PCR{};
  pcr.Adaptation->StuffingSize = 176;
  ByteWriter w;
  WriteTransportPacket(w, pcr);
  std::memcpy(pcr_.data(), w.buffer().data(), std::min(w.buffer().size(), pcr_.size()));
  pat_cc_ = pmt_cc_ = sit_cc_ = 0;
}

void CMuxer::UpdateNextSend(SMuxTrack& track) const {
  const uint64_t a = track.EarliestSendTime(track.extension);
  const SAuBase* unit = track.CurrentAu();
  if (unit && unit->size != 0 && track.bytes_left == unit->size) {
    const uint64_t b = unit->dts ? unit->dts : unit->pts;
    const uint64_t c = (b > kEarlySendLimit ? b - kEarlySendLimit : b) * 300;
    uint64_t next = std::max(a, c);
    if (track.extension) next = std::max(next, track.EarliestSendTime(false));
    track.next_send = next;
  } else if (a != 0) {
    track.next_send = std::max(track.next_send, a);
  }
}

uint64_t CMuxer::GridSlot(uint64_t due) const {
  const uint64_t after = last_packet_time_ + interval_;
  if (due <= after) return after;
  return last_packet_time_ + interval_ * CeilDiv(due - last_packet_time_, interval_);
}

bool CMuxer::AppendPacket(const uint8_t* packet192) {
  if (filled_ + kSourcePacketSize > buffer_.size() && !Flush()) return false;
  std::memcpy(buffer_.data() + filled_, packet192, kSourcePacketSize);
  filled_ += kSourcePacketSize;
  return true;
}

bool CMuxer::Flush() {
  if (filled_ == 0) return true;
  if (!WriteAll(fd_, buffer_.data(), filled_)) {
    ShowMessage(FileErrorText(stream_path_, errno));
    return false;
  }
  std::memset(buffer_.data(), 0xFF, filled_);
  filled_ = 0;
  return true;
}

// System packets go on the first free slot of the packet grid at or after their due time, so
// that no two packets share an arrival time and every gap is a whole number of intervals.
bool CMuxer::WriteSystemPacket(Packet& packet, uint8_t* continuity_counter, uint64_t at) {
  uint8_t source[kSourcePacketSize];
  const uint64_t slot = GridSlot(at);
  if (continuity_counter) SetContinuityCounter(packet.data(), *continuity_counter);
  WriteTpExtraHeader(source, copy_permission_, Ticks27M(slot));
  std::memcpy(source + kTpExtraHeaderSize, packet.data(), kTransportPacketSize);
  if (!AppendPacket(source)) return false;
  last_packet_time_ = slot;
  ++packets_;
  return true;
}

bool CMuxer::WritePsiRound(uint64_t due) {
  if (!WriteSystemPacket(pat_, &pat_cc_, due)) return false;
  next_psi_ = due + kPsiPeriod;
  for (Packet& packet : pmt_) {
    if (!WriteSystemPacket(packet, &pmt_cc_, due)) return false;
  }
  if (++psi_rounds_ == kPsiRoundsPerSit) {
    if (!WriteSystemPacket(sit_, &sit_cc_, due)) return false;
    psi_rounds_ = 0;
  }
  return true;
}

bool CMuxer::WritePcr(uint64_t due) {
  const uint64_t slot = GridSlot(due);
  const PCR pcr = PCR::FromValue(Ticks27M(slot + pcr_offset_));
  ByteWriter w;
  ::tessel::WritePcr(w, pcr);
  std::memcpy(pcr_.data() + 6, w.buffer().data(), 6);
  if (!WriteSystemPacket(pcr_, nullptr, slot)) return false;
  next_pcr_ = pcr_written_ ? next_pcr_ + kPcrPeriod : slot - 3 * interval_ + kPcrPeriod;
  pcr_written_ = true;
  return true;
}

bool CMuxer::WriteDueSystemPackets() {
  for (;;) {
    if (next_pcr_ <= next_psi_) {
      if (clock_ < next_pcr_) break;
      if (!WritePcr(next_pcr_)) return false;
    } else {
      if (clock_ < next_psi_) break;
      if (!WritePsiRound(next_psi_)) return false;
    }
  }
  clock_ = std::max(clock_, last_packet_time_ + interval_);
  return true;
}

bool CMuxer::WriteStartPackets() {
  last_packet_time_ = clock_ - interval_;
  result_.first_packet_time = clock_;
  if (!WritePsiRound(clock_)) return false;
  if (!WritePcr(clock_)) return false;
  clock_ = last_packet_time_ + interval_;
  return true;
}

void CMuxer::AdvanceForSeamlessStart(const std::vector<SMuxTrack*>& active) {
  const SAuBase* first = active.front()->CurrentAu();
  uint64_t packets = 0;
  for (const SMuxTrack* track : active) {
    const SAuBase* unit = const_cast<SMuxTrack*>(track)->CurrentAu();
    if (track == active.front() || (unit && first && unit->dts == first->dts)) {
      packets += track->first_au.packets;
    }
  }
  const uint64_t span = packets * interval_;
  clock_ += span <= 810000 ? 23490000 : span <= 1350000 ? 22950000 : 22410000;
}

void CMuxer::AddPresentation(SMuxTrack& track, const SAuBase& unit) {
  const bool video = IsVideoTrack(track);
  if (application_type_ <= 3 ? !video : !track.IsGraphicsStart()) return;
  const uint64_t start = uint64_t{unit.pts} * 300;
  const uint64_t end =
      start +
      (video && unit.size != 0 ? static_cast<uint64_t>(track.FrameDurationMs() * 27000) : 0);
  if (!have_presentation_) {
    result_.earliest_start = start;
    result_.latest_end = end;
    have_presentation_ = true;
  }
  result_.earliest_start = std::min(result_.earliest_start, start);
  result_.latest_end = std::max(result_.latest_end, end);
  if (video && unit.size != 0) {
    if (!have_video_pts_) result_.first_video_pts = result_.last_video_pts = start;
    have_video_pts_ = true;
    result_.first_video_pts = std::min(result_.first_video_pts, start);
    result_.last_video_pts = std::max(result_.last_video_pts, start);
  }
}

bool CMuxer::WriteElementaryPacket(SMuxTrack& track) {
  SAuBase* unit = track.CurrentAu();
  uint32_t payload = 0;
  const bool first_packet = unit && track.bytes_left == unit->size;
  const uint8_t* packet = unit ? unit->NextPacket(track.bytes_left, payload) : nullptr;
  if (!packet) {
    ShowMessage("Wrong: pack is empty ! ");
    return false;
  }
  if (!WriteDueSystemPackets()) return false;
  uint8_t source[kSourcePacketSize];
  std::memcpy(source, packet, kSourcePacketSize);
  WriteTpExtraHeader(source, copy_permission_, Ticks27M(clock_));
  if (!AppendPacket(source)) return false;
  if (!track.extension && track.main_model) track.main_model->PacketArrived(clock_, payload);
  if (track.second_model) track.second_model->PacketArrived(clock_, payload);
  if (first_packet) {
    if (KEY_POINT_INFO* key = unit->KeyPoint()) key->SpnStart = static_cast<uint32_t>(packets_);
    AddPresentation(track, *unit);
  }
  sent_bytes_ += payload;
  last_packet_time_ = clock_;
  ++packets_;
  clock_ += interval_;
  return true;
}

bool CMuxer::SendUnit(SMuxTrack& track, uint64_t deadline) {
  clock_ = std::max({clock_, track.next_send, last_packet_time_ + interval_});
  clock_ = GridSlot(clock_);
  for (;;) {
    if (!WriteElementaryPacket(track)) return false;
    UpdateNextSend(track);
    if (track.bytes_left == 0) break;
    if (clock_ >= deadline || track.next_send > clock_) return true;
  }
  if (KEY_POINT_INFO* key = track.CurrentAu()->KeyPoint()) {
    key->SpnEnd = static_cast<uint32_t>(packets_ - 1);
  }
  if (!track.NextAu()) return false;
  UpdateNextSend(track);
  return true;
}

bool CMuxer::ReportProgress() {
  if (sent_bytes_ < next_report_) return true;
  next_report_ = sent_bytes_ + kReportEvery;
  return ReportPosition(progress_, PercentOf(sent_bytes_, total_bytes_));
}

void CMuxer::LeaveTrack(SMuxTrack& track) {
  const SAuBase* unit = track.CurrentAu();
  if (unit && unit->size == 0) AddPresentation(track, *unit);
  if (seamless_ && track.primary && IsVideoTrack(track)) hold_time_ = result_.latest_end;
  const uint8_t type = track.CodingType();
  if (IsVideoCodingType(type) || IsAudioCodingType(type)) {
    last_end_time_ = std::max(last_end_time_, track.next_send);
  }
}

bool CMuxer::FinishStream() {
  if (!Flush()) return false;
  Packet null_packet;
  null_packet.fill(0xFF);
  null_packet[0] = kSyncByte;
  null_packet[1] = 0x1F;
  null_packet[2] = 0xFF;
  null_packet[3] = 0x10;
  const uint64_t count = kAlignedUnitPackets - packets_ % kAlignedUnitPackets;
  uint8_t source[kSourcePacketSize];
  std::memcpy(source + kTpExtraHeaderSize, null_packet.data(), kTransportPacketSize);
  for (uint64_t i = 0; i < count; ++i) {
    WriteTpExtraHeader(source, copy_permission_, Ticks27M(clock_));
    if (!AppendPacket(source)) return false;
    last_packet_time_ = clock_;
    ++packets_;
    clock_ += interval_;
  }
  return Flush();
}

bool CMuxer::WriteClipInfo() {
  clip_info_ = Clpi{};
  clip_info_.clip_info.ApplicationType = application_type_;
  clip_info_.clip_info.TsRecordingRate = result_.ts_recording_rate;
  if (packets_ > std::numeric_limits<uint32_t>::max()) {
    ShowMessage(Format("Too many source packets for one clip: %llu ",
                       static_cast<unsigned long long>(packets_)));
    return false;
  }
  clip_info_.clip_info.NumberOfSourcePackets = static_cast<uint32_t>(packets_);
  StcInfo stc;
  stc.StartPTS = ClipTime(result_.earliest_start);
  stc.EndPTS = ClipTime(result_.latest_end);
  clip_info_.sequence_info.StcInfos = {stc};
  for (int pass = 0; pass < 2; ++pass) {
    for (const SMuxTrack* track : tracks_) {
      if ((track->primary != 0) != (pass == 0)) continue;
      StreamInfo info;
      track->FillClipAttributes(info);
      clip_info_.program_info.Sequence.Streams.push_back(std::move(info));
    }
  }
  for (SMuxTrack* track : tracks_) {
    if (!track->key_points_wanted) continue;
    track->GatherKeyPoints();
    if (!track->ep_entry.KeyPoints.empty())
      clip_info_.cpi.ep_map.Entries.push_back(track->ep_entry);
  }
  std::string error;
  const std::optional<std::vector<uint8_t>> bytes = clip_info_.Write(&error);
  if (!bytes) {
    ShowMessage(Format("%s\n%s", clip_info_path_.string().c_str(), error.c_str()));
    return false;
  }
  if (!WriteWholeFile(clip_info_path_, *bytes, &error)) {
    ShowMessage(error);
    return false;
  }
  return true;
}

int CMuxer::Run(const std::filesystem::path& stream_path,
                const std::filesystem::path& clip_info_path,
                const std::optional<SSeamlessRequest>& seamless, const ProgressCallback& progress) {
  stream_path_ = stream_path;
  clip_info_path_ = clip_info_path;
  seamless_ = seamless.has_value();
  progress_ = progress;
  fd_ = ::open(stream_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    ShowMessage(FileErrorText(stream_path, errno));
    return 2;
  }
  const int result = RunOpen(seamless);
  if (::close(fd_) != 0 && result == 0) {
    ShowMessage(FileErrorText(stream_path, errno));
    fd_ = -1;
    return 2;
  }
  fd_ = -1;
  return result;
}

int CMuxer::RunOpen(const std::optional<SSeamlessRequest>& seamless) {
  const std::string title = LoadString(kStringMuxing);
  if (!ReportTitle(progress_, title) ||
      !ReportMessage(progress_, Format("%s %s", title.c_str(), stream_path_.string().c_str())) ||
      !ReportPosition(progress_, 0)) {
    return 1;
  }
  total_bytes_ = sent_bytes_ = 0;
  hold_time_ = last_end_time_ = 0;
  have_presentation_ = have_video_pts_ = false;
  next_report_ = kReportEvery;
  std::vector<SMuxTrack*> active;
  for (SMuxTrack* track : tracks_) {
    total_bytes_ += track->TotalBytes();
    const SAuBase* unit = track->CurrentAu();
    if (!track->finished && unit && unit->size != 0) {
      UpdateNextSend(*track);
      active.push_back(track);
    }
  }
  while (!active.empty()) {
    if (!(packets_ == 0 && IsVideoTrack(*active.front()))) {
      for (SMuxTrack* track : active) track->next_send = std::max(track->next_send, clock_);
      std::stable_sort(active.begin(), active.end(), [](SMuxTrack* a, SMuxTrack* b) {
        if (a->next_send != b->next_send) return a->next_send < b->next_send;
        const uint32_t da = a->CurrentAu()->dts, db = b->CurrentAu()->dts;
        if (da != db) return da < db;
        return a->output_pid < b->output_pid;
      });
    }
    uint64_t deadline = active.size() > 1 ? active[1]->next_send : kNever;
    if (packets_ == 0) {
      clock_ = active.front()->next_send;
      if (seamless && seamless->connection_condition == 5 && seamless->predecessors != 0) {
        AdvanceForSeamlessStart(active);
      }
      if (!WriteStartPackets()) return 2;
      if (IsVideoTrack(*active.front())) deadline = clock_ + interval_;
    }
    if (!ReportProgress()) return 1;
    SMuxTrack& first = *active.front();
    const SAuBase* unit = first.CurrentAu();
    if (hold_time_ != 0 && unit && unit->size == first.bytes_left &&
        uint64_t{unit->pts} * 300 > hold_time_) {
      first.finished = true;
    } else if (!SendUnit(first, deadline)) {
      return 2;
    }
    if (first.finished) {
      LeaveTrack(first);
      active.erase(active.begin());
    }
  }
  clock_ = std::max(clock_, last_end_time_);
  if (packets_ != 0 && !FinishStream()) return 2;
  result_.frame_duration = static_cast<uint64_t>(frame_duration_ms_ * 90 * 300);
  result_.latest_end =
      std::max(result_.latest_end, result_.earliest_start + result_.frame_duration);
  result_.end_time = clock_;
  result_.source_packets = packets_;
  ReportPosition(progress_, 100);
  if (!WriteClipInfo()) return 2;
  uint64_t lowest = kNever, highest = 0;
  for (SMuxTrack* track : tracks_) {
    lowest = std::min(lowest, track->next_send);
    highest = std::max(highest, track->next_send);
    track->Release();
  }
  if (lowest != kNever) result_.lowest_end_margin = lowest > clock_ ? lowest - clock_ : 0;
  result_.highest_end_margin = highest > clock_ ? highest - clock_ : 0;
  return 0;
}

}  // namespace tessel
