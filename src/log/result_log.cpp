#include "log/result_log.h"

#include <cstdarg>
#include <cstdio>

namespace corvane {

int g_resultOverride = 0;

namespace log {
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

void Write(std::string_view text) {
  platform::Os().WriteOut(text);
}

void Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatArgs(format, args);
  va_end(args);
  Write(text);
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatArgs(format, args);
  va_end(args);
  return text;
}

std::string FormatVersion(const platform::FileVersion* version) {
  if (version == nullptr) return "0.0.0.0";
  return Format("%d.%d.%d.%d", static_cast<int>(version->mostSignificant >> 16),
                static_cast<int>(version->mostSignificant & 0xFFFF),
                static_cast<int>(version->leastSignificant >> 16),
                static_cast<int>(version->leastSignificant & 0xFFFF));
}

std::string FormatOpeningElement(const std::string& version, const std::string& computerName,
                                 const platform::ClockReading& clock) {
  const std::tm& local = clock.local;
  return Format(
      "<BIOSCONFIG Version=\"%s\" Computername=\"%s\" Date=\"%d/%02d/%02d\" "
      "Time=\"%02d:%02d:%02d\" UTC=\"%d\" >\n",
      version.c_str(), computerName.c_str(), local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
      local.tm_hour, local.tm_min, local.tm_sec, local.tm_hour - clock.utc.tm_hour);
}

void WriteOpeningElement() {
  platform::Host& host = platform::Os();
  // Take the clock once: date and time always describe the same instant.
  const platform::ClockReading clock = host.ReadClock();
  platform::FileVersion version;
  const bool hasVersion = host.ExecutableFileVersion(version);
  Write(FormatOpeningElement(FormatVersion(hasVersion ? &version : nullptr), host.ComputerName(),
                             clock));
}

void WriteClosingElement() {
  Write("</BIOSCONFIG>\n");
}

void WriteCheckRecord(std::string_view status, std::string_view name, std::string_view current,
                      std::string_view wanted) {
  // Texts go in as every record takes them: unescaped, up to a zero byte.
  Printf(
      "<SETTING changeStatus=\"%s\" name=\"%s\">\n\t<OLDVALUE><![CDATA[%s]]></OLDVALUE>\n\t"
      "<NEWVALUE><![CDATA[%s]]></NEWVALUE>\n</SETTING>\n",
      std::string(status).c_str(), std::string(name).c_str(), std::string(current).c_str(),
      std::string(wanted).c_str());
}

void WriteUnknownSettingRecord(std::string_view name) {
  Printf("<SETTING changeStatus=\"unknown\" name=\"%s\" />\n", std::string(name).c_str());
}

}  // namespace log
}  // namespace corvane
