// Playlist reader: any input either fails to read or gives a record that writes, reads back and
// writes again to the same bytes, and dumps without trouble.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "formats/mpls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::Mpls mpls;
  if (!mpls.Read(std::span<const uint8_t>(data, size))) return 0;
  tessel::DumpArchive archive;
  mpls.Dump("", archive);
  const std::vector<uint8_t> written = mpls.Write();
  tessel::Mpls again;
  if (!again.Read(written)) std::abort();
  if (again.Write() != written) std::abort();
  return 0;
}
