// Edit-list reader: any input either fails with a message or gives edits that write and read back
// to the same document.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "model/edit_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<tessel::SEdit> edits;
  std::string error;
  if (!tessel::ParseEditList(text, "/lists", edits, error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  const std::string written = tessel::WriteEditList(edits, "/lists");
  std::vector<tessel::SEdit> again;
  if (!tessel::ParseEditList(written, "/lists", again, error)) std::abort();
  if (tessel::WriteEditList(again, "/lists") != written) std::abort();
  return 0;
}
