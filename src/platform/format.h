// printf-style formatting of the system's texts into std::string.
#pragma once

#include <cstdarg>
#include <string>

namespace tessel {

// Formats like printf; the result has no length limit.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string VFormat(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));

}  // namespace tessel
