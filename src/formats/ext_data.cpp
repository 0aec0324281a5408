#include "formats/ext_data.h"

#include <algorithm>

#include "formats/mpls.h"

namespace tessel {
namespace {

constexpr uint16_t kPipId1 = 0x0001;
constexpr uint16_t kPipId2 = 0x0001;

template <typename T>
std::unique_ptr<SExtDataBase> Make() {
  return std::make_unique<T>();
}

struct FactoryRow {
  uint16_t id1;
  uint16_t id2;
  ExtDataCreator create;
};

constexpr FactoryRow kBuiltInRecords[] = {
    {0x0001, 0x0001, &Make<SPipMetaData>}, {0x1000, 0x0001, &Make<SKavoToolData>},
    {0x0002, 0x0001, &Make<SStnMeta>},     {0x0002, 0x0002, &Make<SSpMeta>},
    {0x0002, 0x0004, &Make<SPartMeta>},
};

std::vector<FactoryRow>& RegisteredRecords() {
  static std::vector<FactoryRow> rows;
  return rows;
}

ExtDataCreator FindCreator(uint16_t id1, uint16_t id2) {
  for (const FactoryRow& row : RegisteredRecords()) {
    if (row.id1 == id1 && row.id2 == id2) return row.create;
  }
  for (const FactoryRow& row : kBuiltInRecords) {
    if (row.id1 == id1 && row.id2 == id2) return row.create;
  }
  return nullptr;
}

size_t PaddedTo4(size_t n) {
  return (n + 3) & ~size_t{3};
}

constexpr uint8_t kToolDataKey[4] = {'Q', 'W', 'M', 'T'};

}  // namespace

size_t SExtDataBase::Write(ByteWriter*) const {
  return 0;
}

void RegisterExtDataRecord(uint16_t id1, uint16_t id2, ExtDataCreator create) {
  RegisteredRecords().push_back({id1, id2, create});
}

std::unique_ptr<SExtDataBase> CreateRecord(const SExtDataEntry& entry) {
  const ExtDataCreator create = FindCreator(entry.ExtDataEntry_ID1, entry.ExtDataEntry_ID2);
  if (!create) return nullptr;
  std::unique_ptr<SExtDataBase> record = create();
  if (!record->Read(entry.data)) return nullptr;
  return record;
}

// --- Container ---

void SExtDataEntry::Dump(std::string_view prefix, uint32_t start_address,
                         DumpArchive& archive) const {
  archive.Int(prefix, "ExtDataEntry_ID1", ExtDataEntry_ID1);
  archive.Int(prefix, "ExtDataEntry_ID2", ExtDataEntry_ID2);
  archive.Int(prefix, "ExtDataStartAddress", start_address);
  archive.Int(prefix, "ExtDataLength", static_cast<int64_t>(data.size()));
  if (auto record = CreateRecord(*this)) record->Dump(prefix, archive);
}

bool ExtensionData::Read(ByteReader& r) {
  entries.clear();
  const size_t start = r.pos();
  const uint32_t length = r.U32();
  if (length == 0) return r.ok();
  ByteReader container = r.Slice(start, size_t{4} + length);
  r.Skip(length);
  // Past Length, DataBlockStartAddress (every entry carries its own address) and 3 reserved bytes.
  container.Seek(11);
  const uint8_t count = container.U8();
  for (int i = 0; i < count && container.ok(); ++i) {
    SExtDataEntry entry;
    entry.ExtDataEntry_ID1 = container.U16();
    entry.ExtDataEntry_ID2 = container.U16();
    const uint32_t start_address = container.U32();
    const uint32_t data_length = container.U32();
    entry.data = container.Slice(start_address, data_length).Vector(data_length);
    entries.push_back(std::move(entry));
  }
  return container.ok() && r.ok();
}

size_t ExtensionData::Write(ByteWriter* w) const {
  if (entries.empty()) {
    if (w) w->U32(0);
    return 4;
  }
  const size_t table_end = 12 + 12 * entries.size();
  if (!w) {
    size_t size = table_end;
    for (const SExtDataEntry& entry : entries) size += PaddedTo4(entry.data.size());
    return size;
  }
  const size_t start = w->pos();
  const size_t length_at = w->BeginLength32();
  w->U32(static_cast<uint32_t>(table_end));
  w->Zeros(3);
  w->U8(static_cast<uint8_t>(entries.size()));
  const size_t table_at = w->Reserve(12 * entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const SExtDataEntry& entry = entries[i];
    const size_t row = table_at + 12 * i;
    w->PatchU16(row, entry.ExtDataEntry_ID1);
    w->PatchU16(row + 2, entry.ExtDataEntry_ID2);
    w->PatchU32(row + 4, static_cast<uint32_t>(w->pos() - start));
    w->PatchU32(row + 8, static_cast<uint32_t>(entry.data.size()));
    w->Bytes(entry.data);
    w->Zeros(PaddedTo4(entry.data.size()) - entry.data.size());
  }
  w->EndLength32(length_at);
  return w->pos() - start;
}

// Lengths and addresses are shown as the container is written: entry data are padded to
// multiples of 4, which a file read may not have done, and a rewritten file must dump the same.
void ExtensionData::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", static_cast<int64_t>(Write(nullptr) - 4));
  if (entries.empty()) return;
  size_t address = 12 + 12 * entries.size();
  archive.Int(prefix, "DataBlockStartAddress", static_cast<int64_t>(address));
  archive.Int(prefix, "NumberOfExtDataEntries", static_cast<int64_t>(entries.size()));
  const std::string inner = Nested(prefix);
  for (size_t i = 0; i < entries.size(); ++i) {
    archive.Element(prefix, "ExtDataEntry", static_cast<int>(i));
    entries[i].Dump(inner, static_cast<uint32_t>(address), archive);
    address += PaddedTo4(entries[i].data.size());
  }
}

SExtDataEntry* ExtensionData::FindEntry(uint16_t id1, uint16_t id2) {
  for (SExtDataEntry& entry : entries) {
    if (entry.ExtDataEntry_ID1 == id1 && entry.ExtDataEntry_ID2 == id2) return &entry;
  }
  return nullptr;
}

const SExtDataEntry* ExtensionData::FindEntry(uint16_t id1, uint16_t id2) const {
  return const_cast<ExtensionData*>(this)->FindEntry(id1, id2);
}

bool ExtensionData::RemovePipMetadata() {
  const auto it = std::find_if(entries.begin(), entries.end(), [](const SExtDataEntry& entry) {
    return entry.ExtDataEntry_ID1 == kPipId1 && entry.ExtDataEntry_ID2 == kPipId2;
  });
  if (it == entries.end()) return false;
  entries.erase(it);
  return true;
}

void ExtensionData::StorePipMetadata(const SPipMetaData& metadata) {
  SExtDataEntry* entry = FindEntry(kPipId1, kPipId2);
  if (!entry) {
    entries.emplace_back();
    entry = &entries.back();
    entry->ExtDataEntry_ID1 = kPipId1;
    entry->ExtDataEntry_ID2 = kPipId2;
  }
  ByteWriter w;
  metadata.Write(&w);
  entry->data = w.Take();
}

// --- SPipMetaData ---

bool SPipMetaData::Read(std::span<const uint8_t> data) {
  blocks.clear();
  ByteReader r(data);
  Length = r.U32();
  const uint16_t count = r.U16();
  for (int i = 0; i < count && r.ok(); ++i) {
    MetadataBlockHeader h;
    h.RefPlayItemId = r.U16();
    h.RefSvStreamId = r.U8();
    r.Skip(1);
    const uint8_t flags = r.U8();
    h.TimelineType = flags >> 4;
    h.IsLumaKey = flags & 0x08;
    h.TrickPlayingFlag = flags & 0x04;
    r.Skip(2);
    const uint8_t luma = r.U8();
    if (h.IsLumaKey) h.UpperLimitLumaKey = luma;
    r.Skip(2);
    h.MetadataBlockStartAddress = r.U32();
    blocks.push_back({h, {}});
  }
  for (PipMetadataBlock& block : blocks) {
    ByteReader b = r.From(block.header.MetadataBlockStartAddress);
    const uint16_t entries = b.U16();
    for (int j = 0; j < entries && b.ok(); ++j) {
      PipMetadataEntry e;
      e.PipTimeStamp = b.U32();
      const uint32_t packed = b.U32();
      e.PipHorPos = static_cast<uint16_t>(packed >> 20);
      e.PipVerPos = static_cast<uint16_t>(packed >> 8 & 0xFFF);
      e.PipScale = static_cast<uint8_t>(packed >> 4 & 0x0F);
      if (b.ok()) block.entries.push_back(e);
    }
    if (!b.ok()) return false;
  }
  return r.ok();
}

size_t SPipMetaData::Write(ByteWriter* w) const {
  const size_t headers_end = 6 + 14 * blocks.size();
  if (!w) {
    size_t size = headers_end;
    for (const PipMetadataBlock& block : blocks) size += 2 + 8 * block.entries.size();
    return size;
  }
  const size_t start = w->pos();
  const size_t length_at = w->BeginLength32();
  w->U16(static_cast<uint16_t>(blocks.size()));
  const size_t table_at = w->Reserve(14 * blocks.size());
  for (size_t i = 0; i < blocks.size(); ++i) {
    const MetadataBlockHeader& h = blocks[i].header;
    const size_t row = table_at + 14 * i;
    w->PatchU16(row, h.RefPlayItemId);
    w->PatchU8(row + 2, h.RefSvStreamId);
    w->PatchU8(row + 4,
               static_cast<uint8_t>((h.TimelineType & 0x0F) << 4 | (h.IsLumaKey ? 0x08 : 0) |
                                    (h.TrickPlayingFlag ? 0x04 : 0)));
    if (h.IsLumaKey) w->PatchU8(row + 7, h.UpperLimitLumaKey);
    w->PatchU32(row + 10, static_cast<uint32_t>(w->pos() - start));
    w->U16(static_cast<uint16_t>(blocks[i].entries.size()));
    for (const PipMetadataEntry& e : blocks[i].entries) {
      w->U32(e.PipTimeStamp);
      w->U32(uint32_t{e.PipHorPos & 0xFFFu} << 20 | uint32_t{e.PipVerPos & 0xFFFu} << 8 |
             uint32_t{e.PipScale & 0x0Fu} << 4);
    }
  }
  w->EndLength32(length_at);
  return w->pos() - start;
}

void SPipMetaData::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  archive.Int(prefix, "NumberOfMetadataEntries", static_cast<int64_t>(blocks.size()));
  const std::string inner = Nested(prefix);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const MetadataBlockHeader& h = blocks[i].header;
    archive.Element(prefix, "MetadataBlockHeader", static_cast<int>(i));
    archive.Int(inner, "RefPlayItemId", h.RefPlayItemId);
    archive.Int(inner, "RefSvStreamId", h.RefSvStreamId);
    archive.Int(inner, "TimelineType", h.TimelineType);
    archive.Int(inner, "IsLumaKey", h.IsLumaKey);
    archive.Int(inner, "TrickPlayingFlag", h.TrickPlayingFlag);
    if (h.IsLumaKey) archive.Int(inner, "UpperLimitLumaKey", h.UpperLimitLumaKey);
    archive.Int(inner, "MetadataBlockStartAddress", h.MetadataBlockStartAddress);
  }
  const std::string inner2 = Nested(inner);
  for (size_t i = 0; i < blocks.size(); ++i) {
    archive.Element(prefix, "MetadataBlockData", static_cast<int>(i));
    archive.Int(inner, "NumberOfPipMetadataEntries",
                static_cast<int64_t>(blocks[i].entries.size()));
    for (size_t j = 0; j < blocks[i].entries.size(); ++j) {
      const PipMetadataEntry& e = blocks[i].entries[j];
      archive.Element(inner, "PipMetadataEntry", static_cast<int>(j));
      archive.Int(inner2, "PipTimeStamp", e.PipTimeStamp);
      archive.Int(inner2, "PipHorPos", e.PipHorPos);
      archive.Int(inner2, "PipVerPos", e.PipVerPos);
      archive.Int(inner2, "PipScale", e.PipScale);
    }
  }
}

// --- SKavoToolData ---

void SKavoToolData::Scramble(std::span<uint8_t> text) {
  for (size_t i = 0; i < text.size(); ++i) text[i] ^= kToolDataKey[i % 4];
}

bool SKavoToolData::Read(std::span<const uint8_t> data) {
  ByteReader r(data);
  for (std::string* text : {&Company, &Descriptor}) {
    std::vector<uint8_t> raw = r.Vector(r.U8());
    Scramble(raw);
    text->assign(raw.begin(), raw.end());
  }
  return r.ok();
}

size_t SKavoToolData::Write(ByteWriter* w) const {
  const size_t company = std::min<size_t>(Company.size(), 255);
  const size_t descriptor = std::min<size_t>(Descriptor.size(), 255);
  if (w) {
    for (const auto& [text, size] : {std::pair{&Company, company}, {&Descriptor, descriptor}}) {
      std::vector<uint8_t> raw(text->begin(), text->begin() + static_cast<std::ptrdiff_t>(size));
      Scramble(raw);
      w->U8(static_cast<uint8_t>(size));
      w->Bytes(raw);
    }
  }
  return 2 + company + descriptor;
}

void SKavoToolData::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Text(prefix, "Company", Company);
  archive.Text(prefix, "Descriptor", Descriptor);
}

// --- SStnMeta ---

bool SStnMeta::Read(std::span<const uint8_t> data) {
  entries.clear();
  ByteReader r(data);
  while (r.remaining() >= 2) {
    StnMetaEntry e;
    e.Length = r.U16();
    ByteReader body = r.Sub(e.Length);
    e.Reserved = body.U16();
    e.Entry.Read(body);
    e.Attributes.Read(body);
    body.Bytes(e.Reserved8);
    e.Reserved32 = body.U32();
    if (!body.ok()) return false;
    entries.push_back(e);
  }
  return r.ok();
}

void SStnMeta::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Count", static_cast<int64_t>(entries.size()));
  const std::string inner = Nested(prefix);
  const std::string inner2 = Nested(inner);
  for (size_t i = 0; i < entries.size(); ++i) {
    const StnMetaEntry& e = entries[i];
    archive.Ordinal(prefix, static_cast<int>(i + 1));
    archive.Int(inner, "Length", e.Length);
    archive.Int(inner, "Reserved", e.Reserved);
    archive.Heading(inner, "StreamEntry");
    e.Entry.Dump(inner2, archive);
    archive.Heading(inner, "StreamAttributes");
    e.Attributes.Dump(inner2, archive);
    archive.Reserved8(inner, "Reserved", e.Reserved8);
    archive.Int(inner, "Reserved", e.Reserved32);
  }
}

// --- SPartMeta ---

bool SPartMeta::Read(std::span<const uint8_t> data) {
  ByteReader r(data);
  Length = r.U32();
  const uint32_t count = r.U32();
  values.clear();
  if (!r.Require(count <= r.remaining() / 4)) return false;
  values.reserve(count);
  for (uint32_t i = 0; i < count; ++i) values.push_back(r.U32());
  return r.ok();
}

size_t SPartMeta::Write(ByteWriter* w) const {
  if (w) {
    w->U32(static_cast<uint32_t>(4 * values.size() + 4));
    w->U32(static_cast<uint32_t>(values.size()));
    for (uint32_t v : values) w->U32(v);
  }
  return 8 + 4 * values.size();
}

void SPartMeta::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  archive.Int(prefix, "Part Count", static_cast<int64_t>(values.size()));
  uint32_t previous = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    archive.Pair(prefix, static_cast<int>(i), static_cast<int>(values[i]),
                 static_cast<int>(values[i] - previous));
    previous = values[i];
  }
}

}  // namespace tessel
