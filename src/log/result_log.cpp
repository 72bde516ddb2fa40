#include "log/result_log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/host.h"

namespace corvane::log {
namespace {

std::string FormatArgs(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  if (std::vsnprintf(text.data(), text.size(), format, args) != size) return {};
  text.resize(static_cast<std::size_t>(size));
  return text;
}

}  // namespace

void ResultLog::Write(std::string_view text) {
  platform::Os().WriteOut(text);
}

// Values are inserted without escaping; a text stops at its first zero byte.
void ResultLog::Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatArgs(format, args);
  va_end(args);
  Write(text);
}

}  // namespace corvane::log
