// The firmware-attributes tree of any content: attribute folders separated by two NUL bytes,
// each a name and then the files type, current_value, possible_values, min_value, max_value,
// scalar_increment, min_length, max_length, elements and dell_modifier separated by one NUL
// (a file a record does not reach is missing). Whatever the files:
// - a number file reads as the decimal 32-bit number it holds, blanks at the ends and one sign
//   allowed, or as none;
// - items split from a list are trimmed, not empty and free of the separator, in list order;
// - each attribute takes the kind its type names, an integer its bounds, an enumeration the
//   items of its list, a typed ordered list its current order comma-joined, each element once,
//   split at the separator it is written back with, which is ';', ',' or ':';
// - an ordered list written back unchanged gives the driver its current order as it reads it;
// - the tree serves GetConfig, whose text starts with the REPSET header.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "config/configuration_job.h"
#include "fake_host.h"
#include "fuzz_check.h"
#include "fwattr/firmware_attributes.h"
#include "fwattr/provider.h"
#include "fwattr/tree_source.h"

namespace {

using namespace corvane;

constexpr const char* kFields[] = {"type",      "current_value",    "possible_values", "min_value",
                                   "max_value", "scalar_increment", "min_length",      "max_length",
                                   "elements",  "dell_modifier"};
constexpr const char* kDriver = "/fw/driver";

std::optional<std::int32_t> OracleNumber(const std::string& text) {
  const std::string trimmed = fuzz::TrimC(text);
  std::size_t digits = trimmed.find_first_not_of("+-");
  if (trimmed.empty() || digits > 1 || digits == std::string::npos ||
      trimmed.find_first_not_of("0123456789", digits) != std::string::npos)
    return std::nullopt;
  const long long value = std::strtoll(trimmed.c_str(), nullptr, 10);
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

void CheckItems(const std::string& text, char separator) {
  const std::vector<std::string> items = fwattr::SplitItems(text, separator);
  std::size_t at = 0;
  for (const std::string& item : items) {
    FUZZ_CHECK(
        !item.empty() && item == fuzz::TrimC(item) && item.find(separator) == std::string::npos,
        "the item '" + item + "'");
    at = text.find(item, at);
    FUZZ_CHECK(at != std::string::npos, "the item '" + item + "' out of order");
    at += item.size();
  }
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ",") + item;
  return text;
}

// A file as the kernel shows it, its one line feed taken off.
std::string Shown(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static testing::FakeHost host;
  host.files.clear();
  host.folders.clear();
  host.out.clear();
  const std::string input(reinterpret_cast<const char*>(data), size);

  struct Record {
    std::string name;
    std::vector<std::string> files;
  };
  std::vector<Record> records;
  std::size_t start = 0;
  while (start <= input.size() && records.size() < 8) {
    std::size_t end = input.find(std::string("\0\0", 2), start);
    if (end == std::string::npos) end = input.size();
    std::vector<std::string> parts = fuzz::Split(input.substr(start, end - start), '\0');
    start = end + 2;
    const std::string name = parts.front();
    // A folder name holds no slash and is neither "." nor "..".
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == ".." ||
        std::any_of(records.begin(), records.end(),
                    [&](const Record& r) { return r.name == name; }))
      continue;
    parts.erase(parts.begin());
    records.push_back({name, parts});
    const std::string folder = std::string(kDriver) + "/attributes/" + name;
    host.folders.insert(folder);
    for (std::size_t i = 0; i < parts.size() && i < std::size(kFields); ++i)
      host.files[folder + "/" + kFields[i]] = parts[i];
  }

  for (const Record& record : records) {
    for (const std::string& text : record.files) {
      FUZZ_CHECK(fwattr::ParseInt32(text) == OracleNumber(text), "the number '" + text + "'");
      CheckItems(text, ';');
      CheckItems(text, ',');
    }
  }

  for (const fwattr::Attribute& attribute :
       fwattr::ReadAllWithRules(*fwattr::CreateTreeSource(host, kDriver))) {
    const Record* record = nullptr;
    for (const Record& r : records)
      if (r.name == attribute.name) record = &r;
    FUZZ_CHECK(record != nullptr && record->files.size() >= 2, "an attribute without its files");
    const auto file = [&](std::size_t i) {
      return i < record->files.size() ? std::optional<std::string>(Shown(record->files[i]))
                                      : std::nullopt;
    };
    const std::string type = fuzz::TrimC(file(0).value_or(""));
    const auto kind = attribute.kind;
    if (type == "integer") {
      FUZZ_CHECK(kind == fwattr::AttributeKind::Integer, "an integer of another kind");
      FUZZ_CHECK(attribute.minValue == (file(3) ? OracleNumber(*file(3)) : std::nullopt) &&
                     attribute.maxValue == (file(4) ? OracleNumber(*file(4)) : std::nullopt),
                 "the bounds of " + attribute.name);
    } else if (type == "ordered-list") {
      FUZZ_CHECK(kind == fwattr::AttributeKind::OrderedList, "an ordered list of another kind");
      const char separator = attribute.separator;
      FUZZ_CHECK(separator == ';' || separator == ',' || separator == ':',
                 "the separator of " + attribute.name);
      // Values in the bracketed forms of older drivers are read apart.
      if (file(1)->find('[') == std::string::npos) {
        std::vector<std::string> order;
        for (auto& item : fwattr::SplitItems(*file(1), separator))
          if (std::find(order.begin(), order.end(), item) == order.end()) order.push_back(item);
        FUZZ_CHECK(attribute.value == Joined(order), "the order of " + attribute.name);
        // A REPSET order is comma-joined, one element per line, matched without regard to case.
        bool representable = true;
        for (std::size_t i = 0; i < order.size(); ++i) {
          representable &= order[i].find_first_of(",\r\n") == std::string::npos;
          for (std::size_t j = 0; j < i; ++j)
            representable &= !fwattr::EqualsAsciiNoCase(order[i], order[j]);
        }
        std::string written, expected;
        for (const auto& item : order)
          expected += (expected.empty() ? "" : std::string(1, separator)) + item;
        if (representable)
          FUZZ_CHECK(fwattr::ValueToWrite(attribute, attribute.value, written) != order.empty() &&
                         written == (order.empty() ? "" : expected),
                     "the order of " + attribute.name + " written back as '" + written + "'");
      }
    } else if (type == "enumeration") {
      FUZZ_CHECK(kind == fwattr::AttributeKind::Enumeration, "an enumeration of another kind");
      for (const std::string& choice : attribute.choices)
        FUZZ_CHECK(!choice.empty() && choice == fuzz::TrimC(choice), "the choice '" + choice + "'");
    } else if (type == "string") {
      FUZZ_CHECK(kind == fwattr::AttributeKind::String, "a string of another kind");
    } else if (!type.empty()) {
      FUZZ_CHECK(kind == fwattr::AttributeKind::Other, "an unknown type read as a setting");
      FUZZ_CHECK(attribute.readOnly, "an unknown type that can be written");
    }
  }

  if (fwattr::InstallTree(host, "/fw")) {
    log::ResultLog log;
    config::ConfigurationJob job(log, nullptr, "", "");
    std::string text;
    if (job.GetConfigText(text)) FUZZ_CHECK(text.rfind("English\n", 0) == 0, text);
    wbem::InstallLocatorFactory({});
  }
  return 0;
}
