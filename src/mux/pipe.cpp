#include "mux/pipe.h"

#include <unistd.h>

namespace tessel {

SSourceRange SPipeSource::RangeOf(const std::filesystem::path& file) const {
  return {file, range_unit, range_start, range_end, graphics_time_base, start_cut};
}

SEsReader::~SEsReader() {
  if (source_fd >= 0) ::close(source_fd);
}

CPipe::~CPipe() = default;

void CPipe::Close() {
  key_points_.clear();
  last_key_point_.reset();
  esi_.reset();
  end_unit_.reset();
}

bool CPipe::IsMultiplexed() {
  SEsReader* reader = PrimaryReader();
  return reader && reader->info.record && reader->info.record->IsMultiplexed();
}

bool CPipe::CurrentNotStarted() const {
  return false;
}

uint32_t CPipe::AuCount() const {
  return 0;
}

uint32_t CPipe::CopyPayload(uint8_t*, uint32_t) {
  return 0;
}

const SAuEntry* CPipe::CurrentAu() const {
  return nullptr;
}

uint32_t CPipe::BytesLeft() const {
  return 0;
}

void CPipe::FillClipAttributes(StreamCodingInfo&) {}

void CPipe::FillPlaylistAttributes(StreamAttributes&) {}

bool CPipe::WritePacket(SPacketRequest&) {
  return false;
}

int CFilePipe::Open(const SPipeSource& source, const ProgressCallback&) {
  source_ = source;
  return 2;
}

bool CFilePipe::IsBaseSubStream() {
  return true;
}

const SAuEntry* CFilePipe::NextAu() {
  return nullptr;
}

SFirstAuInfo CFilePipe::FirstAuInfo() {
  return {};
}

void CFilePipe::TimeRange(uint64_t& low, uint64_t& high) {
  low = high = 0;
}

uint32_t CFilePipe::FirstPresentationTime() {
  return kFirstAuTime;
}

void CFilePipe::FillClipAttributes(StreamCodingInfo& info) {
  CPipe::FillClipAttributes(info);
}

void CFilePipe::FillPlaylistAttributes(StreamAttributes& attributes) {
  CPipe::FillPlaylistAttributes(attributes);
}

const ESI& CFilePipe::BuildEsi(uint16_t pid) {
  esi_.emplace().ElementaryPid = pid;
  return *esi_;
}

uint64_t CFilePipe::TotalBytes() {
  return 0;
}

int CFlPipe::Open(const SPipeSource& source, const ProgressCallback&) {
  source_ = source;
  return 2;
}

const SAuEntry* CFlPipe::NextAu() {
  return nullptr;
}

SFirstAuInfo CFlPipe::FirstAuInfo() {
  return {};
}

void CFlPipe::TimeRange(uint64_t& low, uint64_t& high) {
  low = high = 0;
}

uint32_t CFlPipe::FirstPresentationTime() {
  return kFirstAuTime;
}

void CFlPipe::FillClipAttributes(StreamCodingInfo& info) {
  CPipe::FillClipAttributes(info);
}

void CFlPipe::FillPlaylistAttributes(StreamAttributes& attributes) {
  CPipe::FillPlaylistAttributes(attributes);
}

const ESI& CFlPipe::BuildEsi(uint16_t pid) {
  esi_.emplace().ElementaryPid = pid;
  return *esi_;
}

uint64_t CFlPipe::TotalBytes() {
  return 0;
}

uint32_t PacketsForUnit(uint8_t, const SAuEntry&) {
  return 1;
}

int CreatePipe(const SPipeSource& source, const ProgressCallback& progress,
               std::unique_ptr<CPipe>& pipe) {
  if (source.file_list.empty()) {
    pipe = std::make_unique<CFilePipe>();
  } else {
    pipe = std::make_unique<CFlPipe>();
  }
  const int result = pipe->Open(source, progress);
  if (result != 0) pipe.reset();
  return result;
}

}  // namespace tessel
