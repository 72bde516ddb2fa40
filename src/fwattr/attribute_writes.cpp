// SetBIOSSetting on real firmware: every request is checked against what the driver shows
// before anything is written, and the administrator password is never left in the kernel.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "fwattr/attribute_tree.h"
#include "fwattr/firmware_attributes.h"
#include "platform/host.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace corvane::fwattr {
namespace {

constexpr std::string_view kUtf16Marker = "<utf-16/>";

std::string Join(const std::string& folder, std::string_view name) {
  return folder + "/" + std::string(name);
}

// The kernel drops a write of no bytes before the driver sees it, so every value goes with
// the line feed the drivers strip, as echo writes it: the empty text then reaches them too.
int WriteValue(const std::string& path, std::string_view text) {
  std::string bytes(text);
  bytes += '\n';
  return platform::Os().WriteExistingFile(path, bytes);
}

// The text of a "<utf-16/>" argument; the empty argument is the empty text. False for any
// other form: the kernel takes passwords as text only.
bool TextOf(std::u16string_view argument, std::string& text) {
  text = platform::Utf16ToUtf8(argument);
  if (text.empty()) return true;
  if (text.compare(0, kUtf16Marker.size(), kUtf16Marker) != 0) return false;
  text.erase(0, kUtf16Marker.size());
  return true;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

bool LengthAllowed(std::size_t length, const std::optional<std::int32_t>& minimum,
                   const std::optional<std::int32_t>& maximum) {
  const auto size = static_cast<std::int64_t>(length);
  return (!minimum || size >= *minimum) && (!maximum || size <= *maximum);
}

bool SameAsciiNoCase(std::string_view a, std::string_view b) {
  return platform::AsciiUpper(a) == platform::AsciiUpper(b);
}

// The name of a list item; marked tells whether it carried the DISABLED marker, which only an
// older Lenovo boot order gives meaning to (its excluded devices).
std::string ItemName(const Attribute& attribute, std::string_view item, bool& marked) {
  marked = false;
  if (!attribute.colonBootOrder) return std::string(item);
  const std::size_t found = platform::AsciiUpper(item).rfind(kDisabledMarker);
  marked = found != std::string::npos && found + kDisabledMarker.size() == item.size();
  return platform::Trim(marked ? item.substr(0, found) : item);
}

// The comma-joined order of the file as the driver takes it: every element by its own
// spelling, each once; the elements of the current order that the file leaves out follow in
// their current order, so that the firmware loses none of them.
bool OrderedListValue(const Attribute& attribute, std::string_view commaList, std::string& out) {
  const std::vector<std::string>& elements = attribute.elements;
  std::vector<bool> used(elements.size(), false);
  std::vector<std::string> order;
  bool marked = false, elementMarked = false;
  for (const auto& item : SplitItems(commaList, ',')) {
    const std::string name = ItemName(attribute, item, marked);
    std::size_t i = 0;
    while (i < elements.size() &&
           !SameAsciiNoCase(ItemName(attribute, elements[i], elementMarked), name))
      ++i;
    if (i == elements.size() || used[i]) return false;
    used[i] = true;
    // A device marked DISABLED leaves the boot order.
    if (!marked) order.push_back(ItemName(attribute, elements[i], elementMarked));
  }
  for (std::size_t i = 0; i < attribute.ordered; ++i) {
    const std::string name = ItemName(attribute, elements[i], elementMarked);
    if (!used[i] && !elementMarked) order.push_back(name);
  }
  const char separator = attribute.colonBootOrder ? ':' : ';';
  out.clear();
  for (const auto& name : order) {
    if (!out.empty()) out += separator;
    out += name;
  }
  return !out.empty();
}

// The value the driver is given, or false when the attribute does not allow it.
bool ValueToWrite(const Attribute& attribute, const std::string& value, std::string& out) {
  if (HasLineBreak(value)) return false;  // the driver would keep the first line only
  switch (attribute.kind) {
    case AttributeKind::Enumeration:
      for (const auto& choice : attribute.choices)
        if (SameAsciiNoCase(choice, value)) {
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
    case AttributeKind::String:
      if (!LengthAllowed(value.size(), attribute.minLength, attribute.maxLength)) return false;
      out = value;
      return true;
    case AttributeKind::OrderedList:
      return OrderedListValue(attribute, value, out);
    case AttributeKind::Other:
      return false;
  }
  return false;
}

// Writes value to path inside a session of the administrator password when one is set: the
// password first, then the value, then the empty password, on every path.
std::int32_t WriteWithPassword(const AdminPassword& admin, const std::string& password,
                               const std::string& path, const std::string& value) {
  if (!admin.isSet) return ReturnCodeOfWriteError(WriteValue(path, value));
  const std::string session = Join(admin.folder, "current_password");
  std::int32_t code = kReturnAccessDenied;
  if (WriteValue(session, password) == 0) code = ReturnCodeOfWriteError(WriteValue(path, value));
  WriteValue(session, "");
  return code;
}

std::int32_t ChangeAdminPassword(Tree& tree, std::u16string_view value,
                                 std::u16string_view password) {
  const AdminPassword admin = ReadAdminPassword(tree.driver);
  if (admin.folder.empty()) return kReturnReadOnly;
  std::string current, wanted;
  if (!TextOf(password, current) || HasLineBreak(current)) return kReturnAccessDenied;
  if (admin.isSet && current.empty()) return kReturnAccessDenied;
  if (!TextOf(value, wanted) || HasLineBreak(wanted)) return kReturnInvalidValue;
  // The empty text removes the password.
  if (!wanted.empty() && !LengthAllowed(wanted.size(), admin.minLength, admin.maxLength))
    return kReturnInvalidValue;

  const std::string session = Join(admin.folder, "current_password");
  std::int32_t code = kReturnAccessDenied;
  if (WriteValue(session, current) == 0)
    code = ReturnCodeOfWriteError(WriteValue(Join(admin.folder, "new_password"), wanted));
  WriteValue(session, "");
  return code;
}

}  // namespace

std::int32_t ReturnCodeOfWriteError(int error) {
  switch (error) {
    case 0:
      return kReturnSuccess;
    case EACCES:
    case EPERM:
      return kReturnAccessDenied;
    case EINVAL:
      return kReturnInvalidValue;
    case ENOENT:
    case ENODEV:
      return kReturnNotFound;
    default:
      return kReturnFailed;
  }
}

std::int32_t SetBiosSetting(Tree& tree, std::u16string_view name, std::u16string_view value,
                            std::u16string_view password) {
  const std::string nameText = platform::Utf16ToUtf8(name);
  if (SameAsciiNoCase(platform::Trim(nameText), kSetupPasswordName))
    return ChangeAdminPassword(tree, value, password);

  const std::string folderName = FindAttributeName(tree.driver, nameText);
  Attribute attribute;
  if (folderName.empty() || !ReadAttribute(tree.driver, folderName, attribute))
    return kReturnNotFound;

  std::string passwordText;
  if (!TextOf(password, passwordText) || HasLineBreak(passwordText)) return kReturnAccessDenied;
  const AdminPassword admin = ReadAdminPassword(tree.driver);
  if (admin.isSet && passwordText.empty()) return kReturnAccessDenied;

  // The rules read the other attributes' values as the driver shows them now; only names of
  // attribute folders are looked at.
  std::deque<Attribute> others;
  std::vector<std::string> names;
  ApplyRules(attribute, [&](const std::string& other) -> const std::string* {
    for (const auto& known : others)
      if (known.name == other) return &known.value;
    if (names.empty()) names = AttributeNames(tree.driver);
    Attribute read;
    if (std::find(names.begin(), names.end(), other) == names.end() ||
        !ReadAttribute(tree.driver, other, read))
      return nullptr;
    others.push_back(std::move(read));
    return &others.back().value;
  });
  if (attribute.readOnly) return kReturnReadOnly;

  std::string toWrite;
  if (!ValueToWrite(attribute, platform::Utf16ToUtf8(value), toWrite)) return kReturnInvalidValue;
  const std::string path = tree.driver + "/attributes/" + folderName + "/current_value";
  const std::int32_t code = WriteWithPassword(admin, passwordText, path, toWrite);
  if (code == kReturnSuccess) tree.settingsChanged = true;
  return code;
}

}  // namespace corvane::fwattr
