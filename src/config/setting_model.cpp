#include "config/setting_model.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/provider_contract.h"
#include "platform/text.h"
#include "wmi/wmi_connection.h"

namespace corvane::config {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// The sort key of a setting; false when its Sequence is missing, null or not a number.
bool ReadSequence(wbem::ClassObject& setting, std::int32_t& sequence) {
  sequence = wmi::ReadIntProperty(setting, u"Sequence");
  if (sequence != -1) return true;
  // -1 is also a legitimate Sequence: only a value that holds no number leaves it unordered.
  wbem::Variant value;
  return setting.Get(u"Sequence", value) == wbem::kOk &&
         (value.type == wbem::Variant::Type::Int32 || value.type == wbem::Variant::Type::Bool);
}

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsWideBlank(char16_t c) {
  return c == u'\t' || c == u'\n' || c == u'\r' || c == u' ';
}

}  // namespace

void SettingList::Append(wbem::ObjectPtr object) {
  objects_.push_back(std::move(object));
  indexed_ = false;
}

void SettingList::Clear() {
  objects_.clear();
  index_.clear();
  names_.clear();
  nextSameKey_.clear();
  indexed_ = false;
}

void SettingList::SortBySequence() {
  // Each Sequence is read once. Settings without one go last in query order, and the sort is
  // stable, so the written file is the same on every run.
  struct Entry {
    bool ordered;
    std::int32_t sequence;
    wbem::ObjectPtr object;
  };
  std::vector<Entry> entries;
  entries.reserve(objects_.size());
  for (auto& object : objects_) {
    Entry entry{false, 0, std::move(object)};
    entry.ordered = ReadSequence(*entry.object, entry.sequence);
    entries.push_back(std::move(entry));
  }
  // A comparison rather than a difference: a difference overflows for distant Sequences.
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.ordered != b.ordered) return a.ordered;
    return a.ordered && a.sequence < b.sequence;
  });
  for (std::size_t i = 0; i < entries.size(); ++i) objects_[i] = std::move(entries[i].object);
  indexed_ = false;
}

void SettingList::BuildIndex() const {
  index_.clear();
  names_.assign(objects_.size(), std::string());
  nextSameKey_.assign(objects_.size(), kNone);
  // Walk backwards so that each key ends up on its first entry and each chain runs forwards.
  for (std::size_t i = objects_.size(); i-- > 0;) {
    if (!wmi::ReadRawStringProperty(*objects_[i], u"Name", names_[i])) continue;
    auto [it, inserted] = index_.try_emplace(platform::NoCaseKey(names_[i]), i);
    if (!inserted) {
      nextSameKey_[i] = it->second;
      it->second = i;
    }
  }
  indexed_ = true;
}

wbem::ClassObject* SettingList::FindByName(std::string_view name) const {
  if (!indexed_) BuildIndex();
  const auto it = index_.find(platform::NoCaseKey(name));
  if (it == index_.end()) return nullptr;
  for (std::size_t i = it->second; i != kNone; i = nextSameKey_[i])
    if (platform::EqualsNoCase(names_[i], name)) return objects_[i].get();
  return nullptr;
}

SettingKind GetSettingKind(wbem::ClassObject& setting) {
  static constexpr std::pair<std::u16string_view, SettingKind> kKinds[] = {
      {contract::kEnumerationClass.Wide(), SettingKind::Enumeration},
      {contract::kStringClass.Wide(), SettingKind::String},
      {contract::kIntegerClass.Wide(), SettingKind::Integer},
      {contract::kOrderedListClass.Wide(), SettingKind::OrderedList},
      {contract::kPasswordClass.Wide(), SettingKind::Password},
  };
  for (const auto& [className, kind] : kKinds)
    if (wmi::IsOfClass(setting, className)) return kind;
  return SettingKind::Other;
}

bool ReadBoolProperty(wbem::ClassObject& setting, const char16_t* name) {
  wbem::Variant value;
  if (setting.Get(name, value) != wbem::kOk) return true;
  switch (value.type) {
    case wbem::Variant::Type::Bool:
      return value.boolean;
    case wbem::Variant::Type::Int32:
      return value.int32 != 0;
    default:
      // Null, or not a flag at all: the cautious reading (shown, read-only).
      return true;
  }
}

std::int32_t ReadBoundProperty(wbem::ClassObject& setting, const char16_t* name) {
  wbem::Variant value;
  if (setting.Get(name, value) != wbem::kOk || value.type != wbem::Variant::Type::Int32) return 0;
  return value.int32;
}

bool IsReadOnlySetting(wbem::ClassObject& setting) {
  return ReadBoolProperty(setting, u"IsReadOnly");
}

std::string CutDisabledMarker(std::string_view entry) {
  // Upper-casing ASCII only keeps byte positions, so the position applies to the entry.
  const std::size_t marker = platform::AsciiUpper(entry).find(" DISABLED");
  return std::string(entry.substr(0, marker));
}

bool ReadListedValues(wbem::ClassObject& setting, const char16_t* listName,
                      std::vector<std::string>& entries) {
  entries.clear();
  std::vector<std::u16string> elements;
  if (!wmi::ReadArrayProperty(setting, listName, elements)) return false;
  entries.reserve(elements.size());
  for (const auto& element : elements)
    entries.push_back(CutDisabledMarker(platform::Trim(platform::ToNarrow(element))));
  return true;
}

bool ContainsListedValue(const std::vector<std::string>& entries, std::string_view value) {
  return std::any_of(entries.begin(), entries.end(), [value](const std::string& entry) {
    return platform::EqualsNoCase(value, entry);
  });
}

bool IsListedValue(wbem::ClassObject& setting, std::string_view value, const char16_t* listName) {
  std::vector<std::string> entries;
  return ReadListedValues(setting, listName, entries) && ContainsListedValue(entries, value);
}

bool ParseInteger(std::string_view text, std::int32_t& value) {
  // Base-10 conversion into 32 bits: leading white space and one sign, then digits; the
  // whole text must be used and the number must fit.
  std::size_t pos = 0;
  while (pos < text.size() && IsCSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  const std::size_t digitsStart = pos;
  std::int64_t magnitude = 0;
  bool outOfRange = false;
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    if (!outOfRange) magnitude = magnitude * 10 + (text[pos] - '0');
    if (magnitude > limit) outOfRange = true;
  }
  // Without digits nothing is converted and the whole text is left over (an empty text
  // converts to 0 with nothing left).
  if (pos == digitsStart) pos = 0;
  if (pos != text.size() || outOfRange) return false;
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return true;
}

bool IsValidInteger(wbem::ClassObject& setting, std::string_view text) {
  std::int32_t value = 0;
  if (!ParseInteger(text, value)) return false;
  const std::int32_t lower = ReadBoundProperty(setting, u"LowerBound");
  const std::int32_t upper = ReadBoundProperty(setting, u"UpperBound");
  return lower <= value && value <= upper;
}

bool IsValidLength(wbem::ClassObject& setting, std::string_view text) {
  const auto length = static_cast<std::int64_t>(platform::ToWide(text).size());
  wbem::Variant bound;
  if (setting.Get(u"MinLength", bound) == wbem::kOk && bound.type == wbem::Variant::Type::Int32 &&
      length < bound.int32)
    return false;
  return !(setting.Get(u"MaxLength", bound) == wbem::kOk &&
           bound.type == wbem::Variant::Type::Int32 && length > bound.int32);
}

bool IsSameOrder(wbem::ClassObject& setting, std::string_view commaList, const char16_t* listName) {
  std::vector<std::string> items;
  std::string_view rest = commaList;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    items.push_back(platform::Trim(rest.substr(0, comma)));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma);
    const std::size_t next = rest.find_first_not_of(", ");
    rest = next == std::string_view::npos ? std::string_view() : rest.substr(next);
  }
  std::vector<std::u16string> elements;
  if (!wmi::ReadArrayProperty(setting, listName, elements)) return true;
  // The order is the one GetConfig writes: empty entries and "--" placeholders are never written,
  // so they hold no position. Otherwise a file GetConfig wrote would ask, applied to the same
  // machine, to move the placeholders.
  std::size_t position = 0;
  for (auto& element : elements) {
    if (position == items.size()) break;
    TrimWideText(element);
    const std::string entry = platform::ToNarrow(element);
    if (entry.empty() || entry == kPlaceholder) continue;
    if (!platform::EqualsNoCase(entry, items[position++])) return false;
  }
  return true;
}

void TrimWideText(std::u16string& text) {
  std::size_t end = text.size();
  while (end > 0 && IsWideBlank(text[end - 1])) --end;
  text.erase(end);
  std::size_t begin = 0;
  while (begin < text.size() && IsWideBlank(text[begin])) ++begin;
  text.erase(0, begin);
}

}  // namespace corvane::config
