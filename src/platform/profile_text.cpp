#include "platform/profile_text.h"

#include "platform/text.h"

namespace corvane::platform {
namespace {

// The reader hands out at most this many characters, as a 100-character buffer would.
constexpr std::size_t kMaxValueLength = 99;

std::string Limit(std::string text) {
  if (text.size() > kMaxValueLength) text.resize(kMaxValueLength);
  return text;
}

std::string Unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// A line that opens with '[' and has a closing ']' names a section; false otherwise.
bool ParseSectionHeader(std::string_view line, std::string& name) {
  if (line.empty() || line.front() != '[') return false;
  const std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return false;
  name = Trim(line.substr(1, close - 1));
  return true;
}

}  // namespace

std::string ReadProfileStringFromText(std::string_view fileText, std::string_view section,
                                      std::string_view key, std::string_view defaultValue) {
  // A byte-order mark left by an editor is not part of the first line.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (fileText.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    fileText.remove_prefix(kByteOrderMark.size());

  const std::string wantedSection = Trim(section);
  const std::string wantedKey = Trim(key);
  bool inSection = false;
  std::size_t pos = 0;
  while (pos < fileText.size()) {
    std::size_t end = fileText.find('\n', pos);
    if (end == std::string_view::npos) end = fileText.size();
    const std::string line = Trim(fileText.substr(pos, end - pos));  // also drops a CR
    pos = end + 1;

    std::string name;
    if (ParseSectionHeader(line, name)) {
      inSection = EqualsNoCase(name, wantedSection);
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (!EqualsNoCase(Trim(std::string_view(line).substr(0, equals)), wantedKey)) continue;
    return Limit(Unquote(Trim(std::string_view(line).substr(equals + 1))));
  }
  return Limit(std::string(defaultValue));
}

}  // namespace corvane::platform
