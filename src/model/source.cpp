#include "model/source.h"

#include <system_error>

#include "platform/format.h"

namespace tessel {

namespace {

uint64_t FileSizeOrZero(const std::filesystem::path& path) {
  if (path.empty()) return 0;
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

}  // namespace

std::unique_ptr<CNamedObject> CSource::CreateSame() const {
  return std::make_unique<CSource>();
}

void CSource::CopyFrom(const CNamedObject& other) {
  CNamedObject::CopyFrom(other);
  const auto* source = dynamic_cast<const CSource*>(&other);
  if (!source) return;
  path = source->path;
  second_path = source->second_path;
  file_list = source->file_list ? std::make_unique<CFileList>(*source->file_list) : nullptr;
  range_unit = source->range_unit;
  range_start = source->range_start;
  range_end = source->range_end;
  graphics_time_base = source->graphics_time_base;
  language = source->language;
  isrc = source->isrc;
}

SPipeSource CSource::PipeSource(int64_t start_cut) const {
  SPipeSource out;
  if (file_list) {
    for (const CFileItem& item : file_list->items) out.file_list.push_back(item.path);
  } else {
    out.path = path;
    out.second_path = second_path;
  }
  out.range_unit = range_unit;
  out.range_start = range_start;
  out.range_end = range_end;
  out.graphics_time_base = graphics_time_base;
  out.start_cut = start_cut;
  out.language = language;
  out.isrc = isrc;
  return out;
}

std::unique_ptr<CNamedObject> CSourceFolder::CreateSame() const {
  return std::make_unique<CSourceFolder>();
}

int OpenSourcePipe(const CSource& source, const ProgressCallback& progress,
                   std::unique_ptr<CPipe>& pipe) {
  return CreatePipe(source.PipeSource(), progress, pipe);
}

uint64_t SourceSize(const CSource& source) {
  if (source.file_list) {
    uint64_t total = 0;
    for (const CFileItem& item : source.file_list->items) total += FileSizeOrZero(item.path);
    return total;
  }
  return FileSizeOrZero(source.path) + FileSizeOrZero(source.second_path);
}

std::string SourceFilter() {
  const char* patterns =
      "*.m2v;*.mpv;*.264;*.avc;*.vc1;*.wav;*.ac3;*.mlp;*.thd;*.dts;*.dtshd;*.sup";
  return Format("%s(%s)|%s|All files(*.*)|*.*||", "Clip file", patterns, patterns);
}

}  // namespace tessel
