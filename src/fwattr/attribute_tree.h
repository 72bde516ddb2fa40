// A driver folder of the kernel's firmware-attributes class read as settings: one setting per
// attribute folder, in the forms the drivers use, with the Dell rules applied. Every file access
// goes through the host, so tests put a fake kernel behind it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::fwattr {

enum class AttributeKind { Enumeration, Integer, String, OrderedList, Other };

struct Attribute {
  std::string name;  // the folder name: what the firmware knows
  AttributeKind kind = AttributeKind::Other;
  // The current value as the provider serves it (an ordered list comma-joined).
  std::string value;
  std::vector<std::string> choices;   // enumeration, in the driver's order
  std::vector<std::string> elements;  // ordered list: the current order, then the others
  std::size_t ordered = 0;            // how many elements the current order holds
  std::optional<std::int32_t> minValue, maxValue;
  std::int32_t increment = 0;  // 0: any step
  std::optional<std::int32_t> minLength, maxLength;
  // An older Lenovo boot order: written back joined with ':'; excluded devices are the
  // elements that carry the " DISABLED" marker.
  bool colonBootOrder = false;
  bool writable = false;  // current_value has a write bit
  bool shownOnly = false;
  std::string modifier;   // dell_modifier
  bool readOnly = false;  // not writable, shown only, or a Dell rule holds
  bool shown = true;      // no Dell rule hides it
};

struct AdminPassword {
  std::string folder;  // empty: the driver has no administrator password
  bool isSet = false;
  std::optional<std::int32_t> minLength, maxLength;
};

inline constexpr std::string_view kDisabledMarker = " DISABLED";

// A file's text with the one line feed the kernel ends it with removed; false when it cannot be
// read.
bool ReadValueFile(const std::string& path, std::string& text);

// The driver folder under root that holds attributes/: the first in byte order of the names.
// Empty when there is none.
std::string FindDriverFolder(const std::string& root);

// The names in a driver's attributes folder, in byte order: the attribute folders and the
// driver's plain files alike (ReadAttribute tells them apart, without a look of its own).
std::vector<std::string> AttributeNames(const std::string& driver);

// Reads one attribute folder. False when it is no setting: no current_value, or one that cannot
// be read. The Dell rules are not applied yet.
bool ReadAttribute(const std::string& driver, const std::string& name, Attribute& attribute);

// Applies the dell_modifier rules and sets readOnly and shown. valueOf answers another
// attribute's current value, or nullptr when there is no such attribute.
using ValueLookup = std::function<const std::string*(const std::string& name)>;
void ApplyRules(Attribute& attribute, const ValueLookup& valueOf);

// Every setting of a driver folder, in byte order of the names, rules applied.
std::vector<Attribute> ReadAttributes(const std::string& driver);

AdminPassword ReadAdminPassword(const std::string& driver);

// The first attribute folder whose name equals name, blanks at the ends and ASCII letter case
// ignored; empty when none does.
std::string FindAttributeName(const std::string& driver, std::string_view name);

// A decimal 32-bit number: blanks at the ends and one sign allowed, nothing else.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// Splits text at separator, trimming each item and dropping the empty ones.
std::vector<std::string> SplitItems(std::string_view text, char separator);

}  // namespace corvane::fwattr
