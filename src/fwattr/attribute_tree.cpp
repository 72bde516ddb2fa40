#include "fwattr/attribute_tree.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "platform/host.h"
#include "platform/text.h"

namespace corvane::fwattr {
namespace {

constexpr std::string_view kShowOnly = "[STATUS:SHOWONLY]";
constexpr std::string_view kOptional = ";[OPTIONAL:";
constexpr std::string_view kExcluded = ";[EXCLUDED FROM BOOT ORDER:";

std::string Join(const std::string& folder, std::string_view name) {
  std::string path = folder;
  path += '/';
  path += name;
  return path;
}

std::vector<std::string> SortedFolder(const std::string& path) {
  std::vector<std::string> names;
  if (!platform::Os().ListFolder(path, names)) return {};
  std::sort(names.begin(), names.end());  // char_traits<char> compares as unsigned bytes
  return names;
}

bool IsFolder(const std::string& path) {
  platform::FileStatus status;
  return platform::Os().GetFileStatus(path, status) && status.isFolder;
}

// The text between "[Word:" and the next "]"; found is the position of the opening bracket
// (of its ';' when the word starts with one).
std::string BracketText(std::string_view raw, std::size_t found, std::size_t wordLength) {
  const std::size_t start = found + wordLength;
  const std::size_t end = raw.find(']', start);
  return std::string(raw.substr(start, end == std::string_view::npos ? raw.npos : end - start));
}

// The value forms older Lenovo drivers put in current_value.
void ParseLenovoForms(const std::string& raw, Attribute& attribute,
                      std::vector<std::string>& optional, bool& isBootOrder) {
  attribute.value = raw;
  const std::string upper = platform::AsciiUpper(raw);
  if (const std::size_t found = upper.find(kShowOnly); found != std::string::npos) {
    attribute.shownOnly = true;
    const std::string_view before = std::string_view(raw).substr(0, found);
    if (!before.empty() && before.front() == '[') {
      attribute.value = BracketText(before, 0, 1);
    } else {
      std::string value = platform::Trim(before);
      while (!value.empty() && value.back() == ';') value.pop_back();
      attribute.value = platform::Trim(value);
    }
    return;
  }
  if (const std::size_t found = upper.find(kOptional); found != std::string::npos) {
    attribute.value = raw.substr(0, found);
    optional = SplitItems(BracketText(raw, found, kOptional.size()), ',');
    return;
  }
  if (const std::size_t found = upper.find(kExcluded); found != std::string::npos) {
    isBootOrder = true;
    attribute.colonBootOrder = true;
    attribute.elements = SplitItems(std::string_view(raw).substr(0, found), ':');
    for (const auto& device : SplitItems(BracketText(raw, found, kExcluded.size()), ':'))
      attribute.elements.push_back(device + std::string(kDisabledMarker));
  }
}

std::string CommaJoined(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) {
    if (!text.empty()) text += ',';
    text += item;
  }
  return text;
}

// A missing file costs one failed open, less than listing every folder first.
bool ReadIfPresent(const std::string& folder, std::string_view name, std::string& text) {
  text.clear();
  return ReadValueFile(Join(folder, name), text);
}

std::optional<std::int32_t> ReadNumber(const std::string& folder, std::string_view name) {
  std::string text;
  if (!ReadIfPresent(folder, name, text)) return std::nullopt;
  return ParseInt32(text);
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  return platform::AsciiUpper(a) == platform::AsciiUpper(b);
}

}  // namespace

std::optional<std::int32_t> ParseInt32(std::string_view text) {
  const std::string trimmed = platform::Trim(text);
  std::size_t pos = 0;
  bool negative = false;
  if (pos < trimmed.size() && (trimmed[pos] == '+' || trimmed[pos] == '-'))
    negative = trimmed[pos++] == '-';
  if (pos == trimmed.size()) return std::nullopt;
  std::int64_t number = 0;
  for (; pos < trimmed.size(); ++pos) {
    if (trimmed[pos] < '0' || trimmed[pos] > '9') return std::nullopt;
    number = number * 10 + (trimmed[pos] - '0');
    if (number > 0x80000000LL) return std::nullopt;
  }
  if (negative) number = -number;
  if (number < std::numeric_limits<std::int32_t>::min() ||
      number > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(number);
}

std::vector<std::string> SplitItems(std::string_view text, char separator) {
  std::vector<std::string> items;
  while (true) {
    const std::size_t end = text.find(separator);
    std::string item = platform::Trim(text.substr(0, end));
    if (!item.empty()) items.push_back(std::move(item));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return items;
}

bool ReadValueFile(const std::string& path, std::string& text) {
  if (!platform::Os().ReadFile(path, text)) return false;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return true;
}

std::string FindDriverFolder(const std::string& root) {
  if (root.empty()) return {};
  for (const auto& name : SortedFolder(root)) {
    std::string driver = Join(root, name);
    if (IsFolder(Join(driver, "attributes"))) return driver;
  }
  return {};
}

std::vector<std::string> AttributeNames(const std::string& driver) {
  return SortedFolder(Join(driver, "attributes"));
}

bool ReadAttribute(const std::string& driver, const std::string& name, Attribute& attribute) {
  attribute = Attribute();
  attribute.name = name;
  const std::string folder = Join(Join(driver, "attributes"), name);
  // A plain file of the driver (pending_reboot) has no current_value below it.
  const std::string currentPath = Join(folder, "current_value");
  std::string raw;
  if (!ReadValueFile(currentPath, raw)) return false;
  platform::FileStatus status;
  attribute.writable =
      platform::Os().GetFileStatus(currentPath, status) && (status.permissions & 0222) != 0;

  std::vector<std::string> optional;
  bool isBootOrder = false;
  ParseLenovoForms(raw, attribute, optional, isBootOrder);

  std::string type;
  ReadIfPresent(folder, "type", type);
  type = platform::Trim(type);
  std::string text;
  std::vector<std::string> possible;
  if ((type.empty() || type == "enumeration") && ReadIfPresent(folder, "possible_values", text))
    possible = SplitItems(text, text.find(';') != std::string::npos ? ';' : ',');
  if (type.empty()) {
    // Older drivers have no type: the value's own form, or its choices, tell.
    if (!optional.empty() || !possible.empty())
      attribute.kind = AttributeKind::Enumeration;
    else if (isBootOrder)
      attribute.kind = AttributeKind::OrderedList;
    else
      attribute.kind = AttributeKind::String;
  } else if (type == "enumeration") {
    attribute.kind = AttributeKind::Enumeration;
  } else if (type == "integer") {
    attribute.kind = AttributeKind::Integer;
  } else if (type == "string") {
    attribute.kind = AttributeKind::String;
  } else if (type == "ordered-list") {
    attribute.kind = AttributeKind::OrderedList;
  }

  switch (attribute.kind) {
    case AttributeKind::Enumeration:
      attribute.choices = optional.empty() ? std::move(possible) : std::move(optional);
      break;
    case AttributeKind::Integer:
      attribute.minValue = ReadNumber(folder, "min_value");
      attribute.maxValue = ReadNumber(folder, "max_value");
      if (const auto step = ReadNumber(folder, "scalar_increment"); step && *step > 0)
        attribute.increment = *step;
      break;
    case AttributeKind::String:
      attribute.minLength = ReadNumber(folder, "min_length");
      attribute.maxLength = ReadNumber(folder, "max_length");
      break;
    case AttributeKind::OrderedList:
      if (!isBootOrder) {
        attribute.elements = SplitItems(attribute.value, ';');
        attribute.ordered = attribute.elements.size();
        // Elements the current order leaves out follow it, so that none is lost.
        if (ReadIfPresent(folder, "elements", text))
          for (auto& element : SplitItems(text, ';'))
            if (std::find(attribute.elements.begin(), attribute.elements.end(), element) ==
                attribute.elements.end())
              attribute.elements.push_back(std::move(element));
        attribute.value = CommaJoined(SplitItems(attribute.value, ';'));
      } else {
        attribute.ordered = attribute.elements.size();
        attribute.value = CommaJoined(attribute.elements);
      }
      break;
    case AttributeKind::Other:
      break;
  }
  ReadIfPresent(folder, "dell_modifier", attribute.modifier);
  return true;
}

void ApplyRules(Attribute& attribute, const ValueLookup& valueOf) {
  attribute.readOnly =
      !attribute.writable || attribute.shownOnly || attribute.kind == AttributeKind::Other;
  attribute.shown = true;
  std::string_view rest = attribute.modifier;
  // [Word:Attribute=Value], repeated; words that mean nothing here are passed over.
  while (true) {
    const std::size_t open = rest.find('[');
    if (open == std::string_view::npos) break;
    const std::size_t close = rest.find(']', open);
    if (close == std::string_view::npos) break;
    const std::string_view rule = rest.substr(open + 1, close - open - 1);
    rest.remove_prefix(close + 1);
    const std::size_t colon = rule.find(':');
    const std::size_t equals = rule.find('=', colon == std::string_view::npos ? 0 : colon);
    if (colon == std::string_view::npos || equals == std::string_view::npos) continue;
    const std::string word(rule.substr(0, colon));
    const std::string other = platform::Trim(rule.substr(colon + 1, equals - colon - 1));
    const std::string wanted = platform::Trim(rule.substr(equals + 1));
    const bool suppress = word == "SuppressIf" || word == "SuppressIfNot";
    const bool readOnly = word == "ReadOnlyIf" || word == "ReadOnlyIfNot";
    if (!suppress && !readOnly) continue;
    // A rule about a setting this machine does not have holds nothing.
    const std::string* current = valueOf(other);
    if (current == nullptr) continue;
    const bool equal = EqualsAsciiNoCase(*current, wanted);
    const bool holds =
        word.size() > 3 && word.compare(word.size() - 3, 3, "Not") == 0 ? !equal : equal;
    if (!holds) continue;
    if (suppress)
      attribute.shown = false;
    else
      attribute.readOnly = true;
  }
}

std::vector<Attribute> ReadAttributes(const std::string& driver) {
  std::vector<Attribute> attributes;
  for (const auto& name : AttributeNames(driver)) {
    Attribute attribute;
    if (ReadAttribute(driver, name, attribute)) attributes.push_back(std::move(attribute));
  }
  std::unordered_map<std::string, std::size_t> byName;
  for (std::size_t i = 0; i < attributes.size(); ++i) byName.emplace(attributes[i].name, i);
  // Rules read the values as they were before any rule was applied.
  const ValueLookup valueOf = [&](const std::string& name) -> const std::string* {
    const auto found = byName.find(name);
    return found == byName.end() ? nullptr : &attributes[found->second].value;
  };
  for (auto& attribute : attributes) ApplyRules(attribute, valueOf);
  return attributes;
}

AdminPassword ReadAdminPassword(const std::string& driver) {
  AdminPassword admin;
  const std::string authentication = Join(driver, "authentication");
  const std::vector<std::string> roles = SortedFolder(authentication);
  std::string text;
  for (const auto& name : roles)
    if (ReadValueFile(Join(Join(authentication, name), "role"), text) &&
        platform::Trim(text) == "bios-admin") {
      admin.folder = Join(authentication, name);
      break;
    }
  // Drivers that name no roles call the folder Admin.
  if (admin.folder.empty())
    for (const auto& name : roles)
      if (EqualsAsciiNoCase(name, "Admin") && IsFolder(Join(authentication, name))) {
        admin.folder = Join(authentication, name);
        break;
      }
  if (admin.folder.empty()) return admin;
  admin.isSet =
      ReadValueFile(Join(admin.folder, "is_enabled"), text) && platform::Trim(text) == "1";
  if (ReadValueFile(Join(admin.folder, "min_password_length"), text))
    admin.minLength = ParseInt32(text);
  if (ReadValueFile(Join(admin.folder, "max_password_length"), text))
    admin.maxLength = ParseInt32(text);
  return admin;
}

std::string FindAttributeName(const std::string& driver, std::string_view name) {
  const std::string wanted = platform::AsciiUpper(platform::Trim(name));
  const std::string attributes = Join(driver, "attributes");
  for (auto& candidate : AttributeNames(driver))
    if (platform::AsciiUpper(platform::Trim(candidate)) == wanted &&
        IsFolder(Join(attributes, candidate)))
      return candidate;
  return {};
}

}  // namespace corvane::fwattr
