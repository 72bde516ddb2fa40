// The provider's settings as the configuration job holds them: references to provider objects,
// their kind, their properties with defaults, and the predicates the readers and writers use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/wbem.h"

namespace corvane::config {

// A list entry that stands for nothing: readers and GetConfig pass it over.
inline constexpr std::string_view kPlaceholder = "--";

enum class SettingKind { Enumeration, String, Integer, OrderedList, Password, Other };

// The retained settings in ascending Sequence order, with a first-match, case-insensitive
// name index so that looking a setting up per file block stays cheap.
class SettingList {
 public:
  void Reserve(std::size_t count) { objects_.reserve(count); }
  void Append(wbem::ObjectPtr object);
  // Releases every entry.
  void Clear();
  // Stable sort by Sequence; settings whose Sequence cannot be read go last in query order.
  void SortBySequence();
  std::size_t size() const { return objects_.size(); }
  bool empty() const { return objects_.empty(); }
  wbem::ClassObject& operator[](std::size_t index) const { return *objects_[index]; }
  // The first entry whose Name (read without trimming) equals name case-insensitively.
  wbem::ClassObject* FindByName(std::string_view name) const;

 private:
  std::vector<wbem::ObjectPtr> objects_;
  mutable std::unordered_map<std::string, std::size_t> index_;  // folded name -> first entry
  mutable bool indexed_ = false;
  // Names as read (none when unreadable) and, per entry, the next entry with the same folded
  // key, so that a lookup walks only the entries it may match, in list order.
  mutable std::vector<std::string> names_;
  mutable std::vector<std::size_t> nextSameKey_;

  void BuildIndex() const;
};

SettingKind GetSettingKind(wbem::ClassObject& setting);
// The text before the first " DISABLED" (found in any letter case); the whole text without one.
std::string CutDisabledMarker(std::string_view entry);
// The entries of a list property as matched against a value: trimmed and cut before a
// " DISABLED" marker in any letter case. False when the property cannot be read or is null.
bool ReadListedValues(wbem::ClassObject& setting, const char16_t* listName,
                      std::vector<std::string>& entries);
// Whether value equals one of the entries ReadListedValues gave, case-insensitively.
bool ContainsListedValue(const std::vector<std::string>& entries, std::string_view value);
// True when the read fails or the value is null.
bool ReadBoolProperty(wbem::ClassObject& setting, const char16_t* name);
// 0 when the read fails or the value is null.
std::int32_t ReadBoundProperty(wbem::ClassObject& setting, const char16_t* name);
bool IsReadOnlySetting(wbem::ClassObject& setting);
bool IsListedValue(wbem::ClassObject& setting, std::string_view value, const char16_t* listName);
// The number in text as the C library's base-10 conversion reads it (leading white space, one
// sign, digits; an empty text is 0), when the whole text is one 32-bit number.
bool ParseInteger(std::string_view text, std::int32_t& value);
bool IsValidInteger(wbem::ClassObject& setting, std::string_view text);
// Whether a text's length, in UTF-16 units, lies within the setting's MinLength and MaxLength,
// where it has them.
bool IsValidLength(wbem::ClassObject& setting, std::string_view text);
// Whether the list names the elements in their current order, as far as it goes; empty entries
// and "--" placeholders of the list property are passed over, as GetConfig never writes them.
bool IsSameOrder(wbem::ClassObject& setting, std::string_view commaList, const char16_t* listName);
// Removes tab, line feed, carriage return and space from the end, then from the start.
void TrimWideText(std::u16string& text);

}  // namespace corvane::config
