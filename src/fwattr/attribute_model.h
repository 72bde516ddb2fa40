// A BIOS attribute as the makers' interfaces describe it, whichever way it was read: kinds,
// values and choices, ordered lists in every joined form, format hints, the markup of older
// drivers and the Dell rules, and what a value must look like before it is written.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::fwattr {

enum class AttributeKind { Enumeration, Integer, String, OrderedList, Other };

// What a source read, as text, before it is made sense of.
struct RawAttribute {
  std::string name;
  std::string type;  // enumeration, integer, string, ordered-list; empty when none is given
  std::string current;
  std::optional<std::string> possible;  // the choices as one text
  std::optional<std::string> elements;  // every element of an ordered list, ';'-joined
  std::optional<std::int32_t> minValue, maxValue, increment, minLength, maxLength;
  std::string modifier;       // Dell rules
  std::string valueModifier;  // Dell's values forced by other settings
  bool writable = true;
  // Its choices are asked for only when they are needed (Lenovo's selections).
  bool choicesLater = false;
};

struct Attribute {
  std::string name;
  AttributeKind kind = AttributeKind::Other;
  // The current value as the provider serves it (an ordered list comma-joined).
  std::string value;
  std::vector<std::string> choices;   // enumeration, in the driver's order
  std::vector<std::string> elements;  // ordered list: the current order, then the others
  std::size_t ordered = 0;            // how many elements the current order holds
  char separator = ';';               // what the driver joins an order with
  // A boot order whose elements outside the order are excluded devices: they carry the
  // " DISABLED" marker, and a device marked so leaves the order.
  bool excludes = false;
  std::string pattern;     // a date or time format a string must fit, such as MM/DD/YYYY
  bool bracketed = false;  // the firmware shows and takes the date or time in brackets
  std::optional<std::int32_t> minValue, maxValue;
  std::int32_t increment = 0;  // 0: any step
  std::optional<std::int32_t> minLength, maxLength;
  bool writable = false;
  bool shownOnly = false;
  std::string modifier;
  bool readOnly = false;  // not writable, shown only, of no known kind, or a Dell rule holds
  bool shown = true;      // no Dell rule hides it
};

inline constexpr std::string_view kDisabledMarker = " DISABLED";

// Makes sense of what was read. The Dell rules are not applied yet.
Attribute ParseAttribute(const RawAttribute& raw);

// Applies the Dell rules and sets readOnly and shown. valueOf answers another attribute's
// current value, or nullptr when there is no such attribute.
using ValueLookup = std::function<const std::string*(const std::string& name)>;
void ApplyRules(Attribute& attribute, const ValueLookup& valueOf);

// The value the interface is given for a value of a REPSET file, or false when the attribute
// does not allow it.
bool ValueToWrite(const Attribute& attribute, const std::string& value, std::string& out);

// A decimal 32-bit number: blanks at the ends and one sign allowed, nothing else.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// Splits text at separator, trimming each item and dropping the empty ones.
std::vector<std::string> SplitItems(std::string_view text, char separator);

bool EqualsAsciiNoCase(std::string_view a, std::string_view b);

// A value with a line break would reach a driver cut at its first line.
bool HasLineBreak(std::string_view text);

}  // namespace corvane::fwattr
