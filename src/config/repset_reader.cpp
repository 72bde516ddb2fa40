#include <cstddef>
#include <new>

#include "config/configuration_job.h"
#include "config/repset_file.h"
#include "log/result_log.h"
#include "platform/host.h"
#include "platform/provider_contract.h"
#include "platform/text.h"
#include "wmi/wmi_connection.h"

namespace corvane::config {
namespace {

constexpr const char* kBlanks = " \t\n\v\f\r";

// A check's record of a value the reader passes over; outside a check nothing is read for it.
void ReportInvalid(ConfigurationJob& job, wbem::ClassObject& setting,
                   const char16_t* currentProperty, std::string_view value) {
  if (!job.compareOnly) return;
  job.ReportInvalid(wmi::ReadStringProperty(setting, u"Name"),
                    wmi::ReadStringProperty(setting, currentProperty), value);
}

// Each block reader starts at the line after the name line and returns the line after the
// last one the block used.

// The first marked line whose choice the setting lists; unlisted marks are passed over. A check
// reports the first of them when no listed mark follows and it is not the current choice.
std::size_t TakeEnumeration(ConfigurationJob& job, wbem::ClassObject& setting,
                            const std::vector<std::string>& lines, std::size_t i) {
  std::vector<std::string> listed;
  bool listRead = false;
  bool found = false;
  bool unlisted = false;
  std::string candidate;
  for (; i < lines.size() && IsValueLine(lines[i]); ++i) {
    if (found) continue;
    const std::string line = platform::Trim(lines[i]);
    if (line.empty() || line.front() != '*') continue;
    if (!listRead) {
      ReadListedValues(setting, u"PossibleValues", listed);
      listRead = true;
    }
    found = ContainsListedValue(listed, std::string_view(line).substr(1));
    if (found || !unlisted) candidate = line.substr(1);
    unlisted = unlisted || !found;
  }
  if (!found && !(unlisted && job.compareOnly)) return i;
  if (platform::EqualsNoCase(candidate, wmi::ReadStringProperty(setting, u"CurrentValue")))
    return i;
  if (found)
    job.RecordChange(setting, candidate);
  else
    ReportInvalid(job, setting, u"CurrentValue", candidate);
  return i;
}

// Strings and integers: the value lines joined, each without its leading white space, and the
// whole without blanks at its ends. The firmware's values read back without them, so a file
// applied once would otherwise differ from the machine on every later run.
std::size_t TakeText(ConfigurationJob& job, wbem::ClassObject& setting, bool integer,
                     const std::vector<std::string>& lines, std::size_t i) {
  std::string value;
  for (; i < lines.size() && IsValueLine(lines[i]); ++i) value += WithoutLeadingBlanks(lines[i]);
  value = platform::Trim(value);
  const std::string current = wmi::ReadStringProperty(setting, u"Value");
  if (platform::EqualsNoCase(value, current)) return i;
  if (integer) {
    // A number is judged by its value: 05 is 5, which the firmware holds already. An empty
    // block is no number any firmware takes. The number goes to the firmware as it reads back.
    std::int32_t wanted = 0;
    std::int32_t now = 0;
    if (value.empty() || !IsValidInteger(setting, value) || !ParseInteger(value, wanted)) {
      ReportInvalid(job, setting, u"Value", value);
      return i;
    }
    if (!current.empty() && ParseInteger(current, now) && now == wanted) return i;
    job.RecordChange(setting, std::to_string(wanted));
    return i;
  }
  // Any text of the setting's length is a valid string, which the provider receives as the file
  // holds it: a zero byte, or bytes that are no text of the code page, would reach the firmware
  // as something nobody wrote, so such a value is passed over.
  if (IsValidLength(setting, value) && platform::ConvertsLosslessly(value))
    job.RecordChange(setting, value);
  else
    ReportInvalid(job, setting, u"Value", value);
  return i;
}

// Ordered lists: every listed element line up to the next name line, comma-joined; blank
// lines inside the block neither end it nor contribute. A check reports each line passed over.
std::size_t TakeOrderedList(ConfigurationJob& job, wbem::ClassObject& setting,
                            const std::vector<std::string>& lines, std::size_t i) {
  std::vector<std::string> listed;
  bool listRead = false;
  std::string value;
  for (; i < lines.size() && !IsNameLine(lines[i]); ++i) {
    const std::string line = platform::Trim(lines[i]);
    if (line.empty()) continue;
    if (!listRead) {
      ReadListedValues(setting, u"Elements", listed);
      listRead = true;
    }
    // The value is comma-separated: a comma after the marker would hand the firmware items
    // that no line names, empty or unknown ones. What follows the marker goes to the firmware
    // too: it must reach it as written.
    if (!ContainsListedValue(listed, platform::Trim(CutDisabledMarker(line))) ||
        line.find(',') != std::string::npos || !platform::ConvertsLosslessly(line)) {
      ReportInvalid(job, setting, u"Value", line);
      continue;
    }
    if (!value.empty()) value += ',';
    value += line;
  }
  if (!value.empty() && !IsSameOrder(setting, value, u"Elements")) job.RecordChange(setting, value);
  return i;
}

}  // namespace

std::string WithoutLeadingBlanks(std::string_view line) {
  const std::size_t first = line.find_first_not_of(kBlanks);
  return first == std::string_view::npos ? std::string() : std::string(line.substr(first));
}

std::vector<std::string> SplitLines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t feed = bytes.find('\n', start);
    if (feed == std::string_view::npos) {
      lines.emplace_back(bytes.substr(start));
      break;
    }
    std::size_t end = feed;
    if (end > start && bytes[end - 1] == '\r') --end;
    lines.emplace_back(bytes.substr(start, end - start));
    start = feed + 1;
  }
  return lines;
}

// A file too large for the memory at hand (millions of empty lines) is one that cannot be read.
bool ReadFileLines(const std::string& path, std::vector<std::string>& lines) {
  try {
    std::string bytes;
    if (!platform::Os().ReadFile(path, bytes)) return false;
    lines = SplitLines(bytes);
  } catch (const std::bad_alloc&) {
    lines.clear();
    return false;
  }
  return !lines.empty();
}

bool OpenRepsetFile(const std::string& path, log::FileKind kind, std::vector<std::string>& lines,
                    log::ResultLog& log) {
  if (!ReadFileLines(path, lines))
    log.FileNotFound(kind, path);
  else if (lines.front() != kRepsetHeader)
    log.FileNotEnglish(kind, path);
  else
    return true;
  lines.clear();
  return false;
}

void ConfigurationJob::RecordChange(wbem::ClassObject& setting, const std::string& newValue) {
  pendingNames.push_back(wmi::ReadStringProperty(setting, u"Name"));
  const bool enumeration = wmi::IsOfClass(setting, contract::kEnumerationClass.Wide());
  pendingOldValues.push_back(
      wmi::ReadStringProperty(setting, enumeration ? u"CurrentValue" : u"Value"));
  pendingNewValues.push_back(newValue);
}

bool ConfigurationJob::ReadRepsetFile(const std::string& path) {
  if (!initialized) Initialize();
  if (!initialized) return false;

  std::vector<std::string> lines;
  if (!OpenRepsetFile(path, log::FileKind::kRepset, lines, log_)) {
    fileRefused = true;
    return false;
  }

  // Value lines outside a usable block, and blocks of unknown, read-only, password or other
  // settings, are passed over one line at a time.
  std::size_t i = 1;
  while (i < lines.size()) {
    const std::string& line = lines[i++];
    if (!IsNameLine(line)) continue;
    wbem::ClassObject* setting = settingList.FindByName(line);
    if (setting == nullptr) {
      ReportUnknown(line);
      continue;
    }
    if (IsReadOnlySetting(*setting)) continue;
    switch (GetSettingKind(*setting)) {
      case SettingKind::Enumeration:
        i = TakeEnumeration(*this, *setting, lines, i);
        break;
      case SettingKind::Integer:
        i = TakeText(*this, *setting, /*integer=*/true, lines, i);
        break;
      case SettingKind::String:
        i = TakeText(*this, *setting, /*integer=*/false, lines, i);
        break;
      case SettingKind::OrderedList:
        i = TakeOrderedList(*this, *setting, lines, i);
        break;
      case SettingKind::Password:
      case SettingKind::Other:
        break;
    }
  }
  return true;
}

}  // namespace corvane::config
