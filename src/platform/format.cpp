#include "platform/format.h"

#include <cstdio>

namespace tessel {

std::string VFormat(const char* fmt, va_list args) {
  // Most texts are short: one formatting pass into the stack, a second only for a long text.
  char small[256];
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (needed <= 0) return {};
  if (static_cast<size_t>(needed) < sizeof small)
    return std::string(small, static_cast<size_t>(needed));
  std::string out(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), fmt, args);
  out.resize(static_cast<size_t>(needed));
  return out;
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = VFormat(fmt, args);
  va_end(args);
  return out;
}

}  // namespace tessel
