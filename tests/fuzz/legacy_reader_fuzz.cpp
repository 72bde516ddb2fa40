// The legacy REPSET reader over a management library that serves its own system objects, one of
// every kind. Whatever the file:
// - the header decides alone whether it is read, with the RMSET messages;
// - a record is marked changed only when it is writable and the file names it, and takes only
//   values its kind allows: a choice it lists (or none), its own elements in a new order (each in
//   its enabled or disabled form), a text the firmware receives as the file holds it; the
//   records the file does not change keep every field;
// - the REPSET text of the records, read again, gives the same values;
// - after the changes are applied, the machine's own REPSET text applied again prints nothing
//   and leaves every value as it is.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "config/configuration_job.h"
#include "fake_firmware.h"
#include "fake_host.h"
#include "fake_wbem.h"
#include "fuzz_check.h"
#include "legacy/bios_access.h"
#include "legacy/legacy_settings.h"
#include "log/result_log.h"

namespace {

using namespace corvane;
using legacy::kNoString;
using legacy::LegacySetting;
using legacy::ValueKind;
using testing::Bytes;

// Unique without regard to case; "X Disabled" is the disabled form of "X".
const std::vector<std::string> kStrings = {"English",
                                           "Serial Port",
                                           "Disable",
                                           "Enable",
                                           "Asset Tracking Number",
                                           "POST Delay",
                                           "Boot Order",
                                           "A",
                                           "A Disabled",
                                           "B",
                                           "B Disabled",
                                           "C",
                                           "Owner Name",
                                           "System Time",
                                           "System Date",
                                           "Fan",
                                           "Front",
                                           "Rear",
                                           "Level",
                                           "ESCD",
                                           "Blob",
                                           "Setup Password",
                                           "Locked Toggle",
                                           "--",
                                           "Auto",
                                           "Temperature",
                                           "Serial Number"};
constexpr std::uint16_t kEscd = 19;
constexpr std::uint16_t kPlaceholder = 23;

void AddObjects(testing::FakeFirmware& firmware) {
  using legacy::kReadOnlyFlag;
  Bytes table;
  table.u16(0);
  for (const auto& text : kStrings) table.text(text);
  table.text("");
  firmware.Add(ValueKind::StringTable, table, kReadOnlyFlag);
  firmware.Add(ValueKind::Enum, Bytes().u16(1).u16(1).u16(2).u16(3).u16(23).u16(24).u16(0xFFFF));
  firmware.Add(ValueKind::Alpha, Bytes().u16(4).text("A12345").pad(43));
  firmware.Add(ValueKind::Int, Bytes().u16(5).i32(0).i32(10).i32(5));
  firmware.Add(ValueKind::OrderedList, Bytes().u16(6).u16(7).u16(10).u16(11).u16(0xFFFF));
  firmware.Add(ValueKind::Alpha, Bytes().u16(12).text("Property of Lumo").pad(150));
  firmware.Add(ValueKind::Time, Bytes().u16(13).text("12:30:00").pad(12));
  firmware.Add(ValueKind::Date, Bytes().u16(14).text("2026-12-07").pad(14));
  firmware.Add(
      ValueKind::EnumExt,
      Bytes().u16(15).u16(0).u16(16).u16(0xFFFF).u16(0xFFFF).u16(0xFFFF).u16(2).u16(3).u16(0xFFFF));
  firmware.Add(ValueKind::ExtInt,
               Bytes().u16(18).i32(1).i32(5).i32(3).u16(16).u16(0xFFFF).u16(0xFFFF).u16(0xFFFF));
  firmware.Add(ValueKind::ExtInt,
               Bytes().u16(18).i32(0).i32(9).i32(9).u16(17).u16(0xFFFF).u16(0xFFFF).u16(0xFFFF));
  firmware.Add(ValueKind::Binary, Bytes().u16(20).u16(0xBEEF).u16(0x0102));
  firmware.Add(ValueKind::Password, Bytes().u16(21).pad(8));
  firmware.Add(ValueKind::Enum, Bytes().u16(kEscd).u16(0).u16(2).u16(3).u16(0xFFFF));
  firmware.Add(ValueKind::Enum, Bytes().u16(22).u16(0).u16(2).u16(3).u16(0xFFFF), kReadOnlyFlag);
  firmware.Add(ValueKind::Int, Bytes().u16(25).i32(-20).i32(-1).i32(-3));
  firmware.Add(ValueKind::Alpha, Bytes().u16(26).text("5CG123").pad(21), kReadOnlyFlag);
}

std::string Text(std::uint16_t id) {
  return id < kStrings.size() ? kStrings[id] : std::string();
}

// An element without its disabled form.
std::string Base(std::uint16_t id) {
  std::string text = Text(id);
  const std::size_t marker = text.find(" Disabled");
  return marker == std::string::npos ? text : text.substr(0, marker);
}

std::string Show(const LegacySetting& s) {
  std::string text = "record '" + Text(s.nameId) + "' kind " + std::to_string(s.kind) + " choice " +
                     std::to_string(s.currentChoice) + " text '" + s.text + "' numbers " +
                     std::to_string(s.minimum) + " " + std::to_string(s.maximum) + " " +
                     std::to_string(s.value) + " ids";
  for (const std::uint16_t id : s.choiceIds) text += " " + std::to_string(id);
  return text;
}

bool SameIdentity(const LegacySetting& a, const LegacySetting& b) {
  return a.objectIndex == b.objectIndex && a.kind == b.kind && a.flags == b.flags &&
         a.nameId == b.nameId && a.subNameIds == b.subNameIds && a.info.bytes == b.info.bytes &&
         a.strings == b.strings && a.binaryData == b.binaryData;
}

// Texts are compared as the apply compares them, without the white space at their ends.
bool SameValues(const LegacySetting& a, const LegacySetting& b, bool trimmed = false) {
  return a.currentChoice == b.currentChoice && a.choiceIds == b.choiceIds &&
         (trimmed ? fuzz::TrimC(a.text) == fuzz::TrimC(b.text) : a.text == b.text) &&
         a.minimum == b.minimum && a.maximum == b.maximum && a.value == b.value;
}

// The file's name lines, each cut at its first backslash.
std::vector<std::string> NamesIn(const std::string& file) {
  std::vector<std::string> names;
  const auto lines = fuzz::Split(file, '\n');
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '\t' || line.front() == ' ') continue;
    names.push_back(line.substr(0, line.find('\\')));
  }
  return names;
}

void CheckRecord(const LegacySetting& before, const LegacySetting& after,
                 const std::vector<std::string>& names) {
  const std::string detail = Show(before) + "\nbecame " + Show(after);
  FUZZ_CHECK(SameIdentity(before, after), "a record changed what it is: " + detail);
  if (after.changed == 0) {
    FUZZ_CHECK(SameValues(before, after), "a record changed without being marked: " + detail);
    return;
  }
  FUZZ_CHECK(!before.readOnly(), "a read-only record marked changed: " + detail);
  const bool named = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
    return fuzz::SameNoCase(name, Text(before.nameId));
  });
  FUZZ_CHECK(named, "a record marked changed that the file does not name: " + detail);
  switch (before.valueKind()) {
    case ValueKind::Enum:
    case ValueKind::EnumExt:
      FUZZ_CHECK(after.choiceIds == before.choiceIds, "the choices changed: " + detail);
      FUZZ_CHECK(after.currentChoice == kNoString || after.currentChoice < after.choiceIds.size(),
                 "a choice the record does not list: " + detail);
      break;
    case ValueKind::Alpha:
    case ValueKind::Date:  // read like the others, though never written
    case ValueKind::Time:
      FUZZ_CHECK(after.text.find('\0') == std::string::npos,
                 "a text the firmware would receive cut short: " + detail);
      break;
    case ValueKind::OrderedList: {
      std::vector<std::string> a;
      std::vector<std::string> b;
      for (const std::uint16_t id : before.choiceIds) a.push_back(Base(id));
      for (const std::uint16_t id : after.choiceIds) b.push_back(Base(id));
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      FUZZ_CHECK(a == b, "an order that is not of the record's own elements: " + detail);
      break;
    }
    case ValueKind::Int:
    case ValueKind::ExtInt:
      break;
    default:
      FUZZ_CHECK(SameValues(before, after), "a kind a file cannot set took values: " + detail);
  }
}

// A text the writer cuts into pieces that the reader would not join back as they were: a piece
// after the first that begins with white space, or one that ends in a carriage return, with more
// than white space after it. (Blanks at the ends never count: values are compared trimmed.)
bool SplitsLossily(const std::string& text) {
  const auto more = [&](std::size_t at) {
    for (; at < text.size(); ++at)
      if (!fuzz::IsCSpace(text[at])) return true;
    return false;
  };
  for (std::size_t at = 0; at < text.size(); at += 64) {
    if (at > 0 && fuzz::IsCSpace(text[at]) && more(at)) return true;
    const std::size_t end = std::min(text.size(), at + 64);
    if (text[end - 1] == '\r' && more(end)) return true;
  }
  return false;
}

struct Machine {
  Machine() {
    AddObjects(firmware);
    pristine = firmware.objects;
    FUZZ_CHECK(access.LoadManagementLibrary("/lib", 0, 1) == 1, "the library does not load");
  }
  std::vector<std::vector<std::uint8_t>> Values() const {
    std::vector<std::vector<std::uint8_t>> values;
    for (const auto& object : firmware.objects) values.push_back(object.value);
    return values;
  }
  testing::FakeHost host;
  testing::ScopedFakeProvider provider;  // no provider: the legacy backend serves
  testing::FakeFirmware firmware;
  std::vector<testing::FakeFirmware::Object> pristine;
  BiosAccess access;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Machine machine;
  static std::vector<LegacySetting> records;
  machine.firmware.objects = machine.pristine;
  machine.firmware.calls.clear();
  machine.host.out.clear();
  machine.host.files.clear();
  log::ResultLog log;
  const std::string file(reinterpret_cast<const char*>(data), size);
  machine.host.files["in.txt"] = file;

  if (records.empty()) {
    config::ConfigurationJob loader(log, &machine.access, "", "/lib");
    FUZZ_CHECK(loader.Initialize(), "the records do not load");
    records = loader.legacyState.legacySettings;
  }

  config::ConfigurationJob job(log, &machine.access, "", "/lib");
  const bool read = job.ReadConfigFile("in.txt");
  const bool english = !file.empty() && fuzz::Split(file, '\n')[0] == "English";
  const bool englishCr = !file.empty() && fuzz::Split(file, '\n')[0] == "English\r" &&
                         file.find('\n') != std::string::npos;
  FUZZ_CHECK(read == (english || englishCr), "the header decides whether the file is read");
  if (!read) {
    FUZZ_CHECK(machine.host.out ==
                   (file.empty() ? "<ERROR type=\"failure\">RMSET file, 'in.txt' not found or "
                                   "empty.</ERROR>\n"
                                 : "<ERROR type=\"failure\">First line in /RMSET file, 'in.txt' "
                                   "is not 'English'.</ERROR>\n"),
               "the message of a refused file: " + machine.host.out);
    FUZZ_CHECK(log.Result() == 0, "a refused RMSET file sets a code");
    return 0;
  }
  FUZZ_CHECK(machine.host.out.empty(), "reading printed: " + machine.host.out);
  const auto& read1 = job.legacyState.legacySettings;
  FUZZ_CHECK(read1.size() == records.size(), "the records changed in number");
  const auto names = NamesIn(file);
  for (std::size_t i = 0; i < records.size(); ++i) CheckRecord(records[i], read1[i], names);

  // The records as REPSET text, read again into a fresh job, give the same values.
  std::string text;
  FUZZ_CHECK(job.WriteLegacyRepsetText(text), "the records cannot be written");
  machine.host.files["again.txt"] = text;
  {
    config::ConfigurationJob again(log, &machine.access, "", "/lib");
    FUZZ_CHECK(again.ReadConfigFile("again.txt"), "the written text is refused");
    const auto& read2 = again.legacyState.legacySettings;
    for (std::size_t i = 0; i < records.size(); ++i) {
      const LegacySetting& a = read1[i];
      const LegacySetting& b = read2[i];
      if (a.valueKind() == ValueKind::StringTable) continue;
      if ((a.valueKind() == ValueKind::Alpha || a.valueKind() == ValueKind::Time) &&
          SplitsLossily(a.text))
        continue;
      // The writer leaves placeholder choices out, so a file that picked one reads back as none.
      if ((a.valueKind() == ValueKind::Enum || a.valueKind() == ValueKind::EnumExt) &&
          a.currentChoice < a.choiceIds.size() && a.choiceIds[a.currentChoice] == kPlaceholder)
        continue;
      FUZZ_CHECK(SameValues(a, b, true), "the written text reads back otherwise: " + Show(a) +
                                             "\nread back as " + Show(b) + "\n" + text);
    }
  }

  // The apply writes exactly the changed, writable records other than ESCD.
  machine.firmware.calls.clear();
  job.ApplyConfig();
  FUZZ_CHECK(log.Result() == 0 || log.Result() == kResultSettingFailed,
             "the apply set code " + std::to_string(log.Result()));
  for (const auto& call : machine.firmware.calls) {
    if (call.rfind("set ", 0) != 0) continue;
    const std::size_t index = std::stoul(call.substr(4));
    const LegacySetting& record = read1.at(index);
    FUZZ_CHECK(!record.readOnly() && record.nameId != kEscd,
               "a write to a record that must not be written: " + Show(record));
    FUZZ_CHECK(record.valueKind() != ValueKind::Date && record.valueKind() != ValueKind::Password &&
                   record.valueKind() != ValueKind::StringTable,
               "a write of a kind never written: " + Show(record));
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].readOnly() || records[i].nameId == kEscd)
      FUZZ_CHECK(machine.firmware.objects[i].value == machine.pristine[i].value,
                 "a value that must not change changed: " + Show(records[i]));
  }

  // What the machine now holds, written and applied again, changes nothing.
  std::string now;
  {
    config::ConfigurationJob writer(log, &machine.access, "", "/lib");
    FUZZ_CHECK(writer.GetConfigText(now), "GetConfig failed after the apply");
    for (const LegacySetting& record : writer.legacyState.legacySettings)
      if ((record.valueKind() == ValueKind::Alpha || record.valueKind() == ValueKind::Time) &&
          SplitsLossily(record.text))
        return 0;
  }
  machine.host.files["now.txt"] = now;
  const auto values = machine.Values();
  machine.host.out.clear();
  log::ResultLog reapplied;
  config::ConfigurationJob reapply(reapplied, &machine.access, "", "/lib");
  FUZZ_CHECK(reapply.ReadConfigFile("now.txt"), "the machine's own text is refused");
  reapply.ApplyConfig();
  FUZZ_CHECK(machine.host.out.empty() && reapplied.Result() == 0,
             "the machine's own text changes something:\n" + machine.host.out + "\n" + now);
  FUZZ_CHECK(machine.Values() == values, "the machine's own text changes a value:\n" + now);
  return 0;
}
