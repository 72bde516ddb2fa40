#include "fwattr/attribute_model.h"

#include <algorithm>
#include <limits>

#include "platform/text.h"

namespace corvane::fwattr {
namespace {

// The bracketed words of older Lenovo drivers, upper-cased.
constexpr std::string_view kShowOnly = "[STATUS:SHOWONLY";
constexpr std::string_view kOptional = "[OPTIONAL:";
constexpr std::string_view kExcluded = "[EXCLUDED FROM BOOT ORDER:";

// What a current value holds besides the value itself.
struct Markup {
  std::string value;
  bool shownOnly = false;
  std::vector<std::string> optional;  // choices
  bool hasExcluded = false;
  std::vector<std::string> excluded;  // devices left out of a boot order
};

bool IsBracketed(std::string_view text) {
  return text.size() >= 2 && text.front() == '[' && text.back() == ']' &&
         text.substr(1, text.size() - 2).find_first_of("[]") == std::string_view::npos;
}

// Removes the first bracketed group that starts with word (ASCII case ignored); inside gets
// its text up to the closing bracket.
bool TakeGroup(std::string& text, std::string_view word, std::string& inside) {
  const std::size_t found = platform::AsciiUpper(text).find(word);
  if (found == std::string::npos) return false;
  const std::size_t start = found + word.size();
  const std::size_t end = text.find(']', start);
  inside = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  text.erase(found, end == std::string::npos ? std::string::npos : end + 1 - found);
  return true;
}

Markup ReadMarkup(std::string_view raw) {
  Markup markup;
  std::string text(raw);
  std::string inside;
  while (TakeGroup(text, kShowOnly, inside)) markup.shownOnly = true;
  if (TakeGroup(text, kOptional, inside)) markup.optional = SplitItems(inside, ',');
  if (TakeGroup(text, kExcluded, inside)) {
    markup.hasExcluded = true;
    markup.excluded = SplitItems(inside, ':');
  }
  // The value ends before the ';' that introduced the groups.
  text = platform::Trim(text);
  while (!text.empty() && text.back() == ';')
    text = platform::Trim(text.substr(0, text.size() - 1));
  // A shown-only value may stand in brackets of its own: [01/01/2019].
  if (markup.shownOnly && IsBracketed(text)) text = platform::Trim(text.substr(1, text.size() - 2));
  markup.value = std::move(text);
  return markup;
}

// Choices are separated by ';', by ',' on some older drivers.
std::vector<std::string> SplitChoices(std::string_view text) {
  return SplitItems(text, text.find(';') != std::string_view::npos ? ';' : ',');
}

bool Contains(const std::vector<std::string>& items, std::string_view item) {
  return std::any_of(items.begin(), items.end(),
                     [&](const std::string& known) { return EqualsAsciiNoCase(known, item); });
}

// Items in order, each once.
std::vector<std::string> Unique(std::vector<std::string> items) {
  std::vector<std::string> unique;
  for (auto& item : items)
    if (std::find(unique.begin(), unique.end(), item) == unique.end())
      unique.push_back(std::move(item));
  return unique;
}

std::string CommaJoined(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) {
    if (!text.empty()) text += ',';
    text += item;
  }
  return text;
}

// What a driver joins its current order with: the separator whose items are all elements,
// else the first one the order holds, else ';' as the elements are joined.
char OrderSeparator(std::string_view order, const std::vector<std::string>& all) {
  constexpr std::string_view kSeparators = ";,:";
  for (const char separator : kSeparators) {
    if (order.find(separator) == std::string_view::npos) continue;
    const auto items = SplitItems(order, separator);
    if (std::all_of(items.begin(), items.end(),
                    [&](const std::string& item) { return Contains(all, item); }))
      return separator;
  }
  for (const char separator : kSeparators)
    if (order.find(separator) != std::string_view::npos) return separator;
  return ';';
}

// A boot order of older Lenovo drivers: the devices joined with ':', then those it excludes.
void ReadExcludingOrder(Attribute& attribute, const std::vector<std::string>& excluded) {
  attribute.kind = AttributeKind::OrderedList;
  attribute.excludes = true;
  attribute.separator = ':';
  attribute.elements = Unique(SplitItems(attribute.value, ':'));
  attribute.ordered = attribute.elements.size();
  for (const auto& device : excluded)
    if (!Contains(attribute.elements, device))
      attribute.elements.push_back(device + std::string(kDisabledMarker));
  attribute.value = CommaJoined(attribute.elements);
}

// A boot order by its name: Boot Order, BootOrder, Primary Boot Sequence; not BootOrderLock.
bool IsOrderName(std::string_view name) {
  std::string key;
  for (const char c : platform::AsciiUpper(name))
    if (c != ' ') key.push_back(c);
  const auto endsWith = [&](std::string_view end) {
    return key.size() >= end.size() && key.compare(key.size() - end.size(), end.size(), end) == 0;
  };
  return key.find("BOOT") != std::string::npos && (endsWith("ORDER") || endsWith("SEQUENCE"));
}

// Lenovo boot orders as drivers and firmware show them without saying so: devices joined with
// ':' that are all among the choices (two or more, or any number under an order's name), or,
// without choices, any ':'-joined devices under an order's name.
bool IsColonOrder(std::string_view value, const std::vector<std::string>& possible,
                  bool orderName) {
  const auto parts = SplitItems(value, ':');
  if (parts.empty()) return false;
  if (possible.empty()) return orderName;
  return (parts.size() >= 2 || orderName) &&
         std::all_of(parts.begin(), parts.end(),
                     [&](const std::string& part) { return Contains(possible, part); });
}

bool IsPatternLetter(char c) {
  return c == 'M' || c == 'D' || c == 'Y' || c == 'H' || c == 'S';
}
bool IsPatternSeparator(char c) {
  return c == '/' || c == ':' || c == '-' || c == '.' || c == '\\';
}

// A date or time format that older drivers give instead of choices: MM/DD/YYYY, HH/MM/SS.
bool IsFormatPattern(std::string_view text) {
  const bool letters = std::any_of(text.begin(), text.end(), IsPatternLetter);
  const bool separators = std::any_of(text.begin(), text.end(), IsPatternSeparator);
  return letters && separators && text.size() <= 16 &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return IsPatternLetter(c) || IsPatternSeparator(c); });
}

// The format a setting's name ends with: AlarmTime(HH:MM:SS).
std::string NameFormat(std::string_view name) {
  const std::string trimmed = platform::Trim(name);
  const std::size_t open = trimmed.rfind('(');
  if (open == std::string::npos || trimmed.back() != ')') return {};
  const std::string inside = trimmed.substr(open + 1, trimmed.size() - open - 2);
  return IsFormatPattern(inside) ? inside : std::string();
}

// Digits where the format has letters, a separator where it has one, each field in its range
// (M is the month in a date and the minutes in a time).
bool FitsPattern(std::string_view value, std::string_view pattern) {
  if (value.size() != pattern.size()) return false;
  const bool time = pattern.find('H') != std::string_view::npos;
  for (std::size_t i = 0; i < pattern.size();) {
    const char letter = pattern[i];
    if (!IsPatternLetter(letter)) {
      if (!IsPatternSeparator(value[i])) return false;
      ++i;
      continue;
    }
    int number = 0;
    for (; i < pattern.size() && pattern[i] == letter; ++i) {
      if (value[i] < '0' || value[i] > '9') return false;
      number = number * 10 + (value[i] - '0');
    }
    const auto in = [&](int low, int high) { return number >= low && number <= high; };
    const bool fits = letter == 'M'   ? (time ? in(0, 59) : in(1, 12))
                      : letter == 'D' ? in(1, 31)
                      : letter == 'H' ? in(0, 23)
                      : letter == 'S' ? in(0, 59)
                                      : true;
    if (!fits) return false;
  }
  return true;
}

bool LengthAllowed(std::size_t length, const std::optional<std::int32_t>& minimum,
                   const std::optional<std::int32_t>& maximum) {
  const auto size = static_cast<std::int64_t>(length);
  return (!minimum || size >= *minimum) && (!maximum || size <= *maximum);
}

// The name of a list item; marked tells whether it carried the DISABLED marker, which only an
// order that excludes devices gives meaning to.
std::string ItemName(const Attribute& attribute, std::string_view item, bool& marked) {
  marked = false;
  if (!attribute.excludes) return std::string(item);
  const std::size_t found = platform::AsciiUpper(item).rfind(kDisabledMarker);
  marked = found != std::string::npos && found + kDisabledMarker.size() == item.size();
  return platform::Trim(marked ? item.substr(0, found) : item);
}

// The comma-joined order of a file as the driver takes it: every element by its own spelling,
// each once, joined as the driver joins its own order; the elements of the current order that
// the file leaves out follow in their current order, so that the firmware loses none of them.
bool OrderedListValue(const Attribute& attribute, std::string_view commaList, std::string& out) {
  const std::vector<std::string>& elements = attribute.elements;
  std::vector<bool> used(elements.size(), false);
  std::vector<std::string> order;
  bool marked = false, elementMarked = false;
  for (const auto& item : SplitItems(commaList, ',')) {
    const std::string name = ItemName(attribute, item, marked);
    std::size_t i = 0;
    while (i < elements.size() &&
           !EqualsAsciiNoCase(ItemName(attribute, elements[i], elementMarked), name))
      ++i;
    if (i == elements.size() || used[i]) return false;
    used[i] = true;
    // A device marked DISABLED leaves the order.
    if (!marked) order.push_back(ItemName(attribute, elements[i], elementMarked));
  }
  for (std::size_t i = 0; i < attribute.ordered; ++i) {
    const std::string name = ItemName(attribute, elements[i], elementMarked);
    if (!used[i] && !elementMarked) order.push_back(name);
  }
  out.clear();
  for (const auto& name : order) {
    if (!out.empty()) out += attribute.separator;
    out += name;
  }
  return !out.empty();
}

}  // namespace

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform::AsciiUpper(a) == platform::AsciiUpper(b);
}

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

Attribute ParseAttribute(const RawAttribute& raw) {
  Attribute attribute;
  attribute.name = raw.name;
  attribute.writable = raw.writable;
  attribute.modifier = raw.modifier;
  Markup markup = ReadMarkup(raw.current);
  attribute.value = std::move(markup.value);
  attribute.shownOnly = markup.shownOnly;
  const std::string type = platform::Trim(raw.type);
  const std::vector<std::string> possible =
      raw.possible ? SplitChoices(*raw.possible) : std::vector<std::string>();

  // Boot orders that no type marks as such: the same order reads the same whether or not it
  // excludes a device.
  const bool orderName = IsOrderName(raw.name);
  const bool untyped = type.empty() || type == "enumeration" || type == "string";
  if (untyped && markup.optional.empty() && !markup.hasExcluded &&
      (type != "enumeration" || !Contains(possible, attribute.value) || orderName) &&
      IsColonOrder(attribute.value, possible, orderName)) {
    // Every device is a choice; those outside the order are excluded.
    ReadExcludingOrder(attribute, possible);
    return attribute;
  }

  AttributeKind kind = AttributeKind::Other;
  if (type == "enumeration") {
    kind = AttributeKind::Enumeration;
  } else if (type == "integer") {
    kind = AttributeKind::Integer;
  } else if (type == "string") {
    kind = AttributeKind::String;
  } else if (type == "ordered-list") {
    kind = AttributeKind::OrderedList;
  } else if (type.empty()) {
    // Older drivers have no type: the value's own form, or its choices, tell.
    if (!markup.optional.empty()) {
      kind = AttributeKind::Enumeration;
    } else if (markup.hasExcluded) {
      kind = AttributeKind::OrderedList;
    } else if (possible.size() == 1 && IsFormatPattern(possible.front())) {
      kind = AttributeKind::String;
      attribute.pattern = possible.front();
    } else {
      kind = possible.empty() ? AttributeKind::String : AttributeKind::Enumeration;
    }
  }
  attribute.kind = kind;

  switch (kind) {
    case AttributeKind::Enumeration:
      if (markup.optional.empty())
        attribute.choices = possible;
      else
        attribute.choices = std::move(markup.optional);
      break;
    case AttributeKind::Integer:
      attribute.minValue = raw.minValue;
      attribute.maxValue = raw.maxValue;
      if (raw.increment && *raw.increment > 0) attribute.increment = *raw.increment;
      break;
    case AttributeKind::String:
      attribute.minLength = raw.minLength;
      attribute.maxLength = raw.maxLength;
      if (attribute.pattern.empty()) attribute.pattern = NameFormat(raw.name);
      // A date or time the firmware shows in brackets is written in them: [00:00:00].
      if (!attribute.pattern.empty() && IsBracketed(attribute.value)) {
        attribute.bracketed = true;
        attribute.value = platform::Trim(attribute.value.substr(1, attribute.value.size() - 2));
      }
      break;
    case AttributeKind::OrderedList: {
      if (markup.hasExcluded) {
        ReadExcludingOrder(attribute, markup.excluded);
        break;
      }
      const std::vector<std::string> all =
          raw.elements ? Unique(SplitItems(*raw.elements, ';')) : std::vector<std::string>();
      attribute.separator = OrderSeparator(attribute.value, all);
      attribute.elements = Unique(SplitItems(attribute.value, attribute.separator));
      attribute.ordered = attribute.elements.size();
      attribute.value = CommaJoined(attribute.elements);
      // Elements the current order leaves out follow it, so that none is lost.
      for (const auto& element : all)
        if (std::find(attribute.elements.begin(), attribute.elements.end(), element) ==
            attribute.elements.end())
          attribute.elements.push_back(element);
      break;
    }
    case AttributeKind::Other:
      break;
  }
  return attribute;
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

bool ValueToWrite(const Attribute& attribute, const std::string& value, std::string& out) {
  if (HasLineBreak(value)) return false;  // the driver would keep the first line only
  switch (attribute.kind) {
    case AttributeKind::Enumeration:
      for (const auto& choice : attribute.choices)
        if (EqualsAsciiNoCase(choice, value)) {
          out = choice;
          return true;
        }
      return false;
    case AttributeKind::Integer: {
      const std::optional<std::int32_t> parsed = ParseInt32(value);
      if (!parsed) return false;
      const std::int64_t number = *parsed;
      const std::int64_t lower =
          attribute.minValue.value_or(std::numeric_limits<std::int32_t>::min());
      const std::int64_t upper =
          attribute.maxValue.value_or(std::numeric_limits<std::int32_t>::max());
      if (number < lower || number > upper) return false;
      if (attribute.increment > 0 &&
          (number - attribute.minValue.value_or(0)) % attribute.increment != 0)
        return false;
      out = std::to_string(number);
      return true;
    }
    case AttributeKind::String: {
      std::string text = value;
      // A date or time is taken with its brackets or without, and written as the firmware has it.
      if (!attribute.pattern.empty() && IsBracketed(text))
        text = platform::Trim(text.substr(1, text.size() - 2));
      if (!LengthAllowed(text.size(), attribute.minLength, attribute.maxLength)) return false;
      if (!attribute.pattern.empty() && !FitsPattern(text, attribute.pattern)) return false;
      out = attribute.bracketed ? "[" + text + "]" : text;
      return true;
    }
    case AttributeKind::OrderedList:
      return OrderedListValue(attribute, value, out);
    case AttributeKind::Other:
      return false;
  }
  return false;
}

}  // namespace corvane::fwattr
