// The legacy value buffers of every kind, of any size, on both sides of the system-object table.
//
// A library's own objects (the first byte even): objects of any kind, flags, size and bytes,
// beside a string table. Whatever they hold:
// - a record never holds more than its buffer: its lists, texts and bytes fit within the size;
// - every record handed back to the apply unchanged, as a file that repeats GetConfig does, is
//   left as it is: nothing is printed, no code is set and every buffer reads as before;
// - the REPSET text of the records starts with the string table's own name.
//
// The built-in objects (the first byte odd): the firmware answers with any toggles, security
// bits, CMOS bytes, tags and boot-device table. Whatever it holds:
// - a value is read only into a buffer large enough for it, always naming its own object;
// - a value read and written back unchanged reads back the same (texts without their padding
//   blanks, which every write drops);
// - a buffer that names another object, of any size, is refused and changes nothing.
#include <algorithm>
#include <array>
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
#include "legacy/built_in_objects.h"
#include "legacy/legacy_settings.h"
#include "legacy/sys_obj_table.h"
#include "log/result_log.h"

namespace {

using namespace corvane;
using legacy::kNoString;
using legacy::LegacySetting;
using legacy::ValueKind;
using Buffer = std::vector<std::uint8_t>;

// The fuzzer's bytes, taken from the front; past the end everything reads 0.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
  std::uint32_t U32() { return U16() | (static_cast<std::uint32_t>(U16()) << 16); }
  Buffer Bytes(std::size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    Buffer bytes(data_ + at_, data_ + at_ + n);
    at_ += n;
    return bytes;
  }
  [[nodiscard]] bool empty() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

struct Fakes {
  Fakes() {
    FUZZ_CHECK(access.LoadManagementLibrary("/lib", 0, 1) == 1, "the library does not load");
    const char* codes[] = {"HDA-L", "BAY-B", "USB-FL", "ZIP-1"};
    for (std::uint32_t i = 0; i < 4; ++i) firmware.Put(0xF0200 + 0x10 * i, codes[i]);
  }
  testing::FakeHost host;
  testing::ScopedFakeProvider provider;  // no provider: the legacy backend serves
  testing::FakeFirmware firmware;
  BiosAccess access;
};

// The bytes a read of size bytes gives: the value cut or padded with zeros.
Buffer Seen(const Buffer& value, std::size_t size) {
  Buffer seen(value.begin(),
              value.begin() + static_cast<std::ptrdiff_t>(std::min(size, value.size())));
  seen.resize(size, 0);
  return seen;
}

std::string Show(const Buffer& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
    text += ' ';
  }
  return text;
}

void CheckFits(const LegacySetting& s) {
  const auto size = static_cast<std::size_t>(s.size);
  const std::string detail = "kind " + std::to_string(s.kind) + " size " + std::to_string(size);
  FUZZ_CHECK(size >= 2, "a record smaller than its name index: " + detail);
  FUZZ_CHECK(std::find(s.choiceIds.begin(), s.choiceIds.end(), kNoString) == s.choiceIds.end(),
             "a list that holds its own end: " + detail);
  switch (s.valueKind()) {
    case ValueKind::Enum:
      FUZZ_CHECK(s.choiceIds.size() * 2 + 4 <= std::max<std::size_t>(size, 4),
                 "more choices than the buffer holds: " + detail);
      break;
    case ValueKind::EnumExt:
      FUZZ_CHECK(s.choiceIds.size() * 2 + 12 <= std::max<std::size_t>(size, 12),
                 "more choices than the buffer holds: " + detail);
      break;
    case ValueKind::OrderedList:
      FUZZ_CHECK(s.choiceIds.size() * 2 + 2 <= size,
                 "more elements than the buffer holds: " + detail);
      break;
    case ValueKind::Alpha:
      FUZZ_CHECK(s.text.size() + 3 <= std::max<std::size_t>(size, 3) &&
                     s.text.find('\0') == std::string::npos,
                 "a text beyond its field: " + detail);
      break;
    case ValueKind::Date:
    case ValueKind::Time:
      FUZZ_CHECK(s.text.size() + 2 <= size && s.text.find('\0') == std::string::npos,
                 "a text beyond its buffer: " + detail);
      break;
    case ValueKind::Binary:
      FUZZ_CHECK(s.binaryData.size() + 2 == size,
                 "binary bytes other than the buffer's: " + detail);
      break;
    case ValueKind::StringTable: {
      std::size_t used = 0;
      for (const auto& text : s.strings) used += text.size() + 1;
      FUZZ_CHECK(used <= size - 2 + 1, "string-table texts beyond the buffer: " + detail);
      break;
    }
    default:
      break;
  }
}

void LibraryObjects(Fakes& fakes, Input& input) {
  auto& firmware = fakes.firmware;
  firmware.servesList = true;
  firmware.objects.clear();
  // A string table that names the settings the apply treats apart.
  testing::Bytes table;
  table.u16(0);
  for (const char* text :
       {"English", "ESCD", "Asset Tracking Number", "On", "Off", "--", "A", "A Disabled", "Name"})
    table.text(text);
  table.text("");
  firmware.Add(ValueKind::StringTable, table, legacy::kReadOnlyFlag);
  for (int n = 0; n < 6 && !input.empty(); ++n) {
    const std::uint8_t kindByte = input.Byte();
    const auto kind = static_cast<ValueKind>(kindByte % 12 == 11 ? 0x7FFF : kindByte % 12);
    const auto flags = static_cast<std::uint16_t>(input.Byte() & 3);
    std::uint16_t infoSize = input.U16() % 2048;
    const std::uint16_t length = input.U16() % 2048;
    Buffer value = input.Bytes(length);
    // The apply reads the asset tag with at least 19 bytes, whatever its information says;
    // a smaller one is read at two sizes by design.
    if (legacy::ReadU16(value.data(), value.size(), 0, 0) == 2)
      infoSize = std::max<std::uint16_t>(infoSize, 19);
    firmware.Add(kind, value, flags, infoSize);
  }
  const auto pristine = firmware.objects;

  legacy::LegacyState state;
  state.access = &fakes.access;
  std::string password;
  if (legacy::LoadLegacySettings(state, password) == 0) return;
  for (const LegacySetting& setting : state.legacySettings) CheckFits(setting);

  {
    log::ResultLog log;
    config::ConfigurationJob job(log, &fakes.access, "", "/lib");
    std::string text;
    if (job.GetConfigText(text)) {
      const std::string header =
          legacy::LookupString(job.legacyState, job.legacyState.stringTableSetting()->nameId);
      FUZZ_CHECK(text.rfind(header + "\n", 0) == 0, "GetConfig text without its header");
    }
  }

  // Every record applied as it was read.
  for (LegacySetting& setting : state.legacySettings) setting.changed = 1;
  fakes.host.out.clear();
  log::ResultLog log;
  legacy::ApplyLegacyChanges(state, password, log);
  for (std::size_t i = 0; i < firmware.objects.size(); ++i) {
    // The object's own bytes, as its information sizes them.
    const std::size_t size = legacy::ReadU32(pristine[i].info.data(), 22, 4, 0);
    FUZZ_CHECK(Seen(firmware.objects[i].value, size) == Seen(pristine[i].value, size),
               "an unchanged record changed object " + std::to_string(i) + ", kind " +
                   std::to_string(legacy::ReadU16(pristine[i].info.data(), 22, 0, 0)) + ":\nfrom " +
                   Show(pristine[i].value) + "\nto   " + Show(firmware.objects[i].value));
  }
  FUZZ_CHECK(fakes.host.out.empty() && log.Result() == 0,
             "unchanged records printed:\n" + fakes.host.out);
}

// The text of a value buffer without its padding blanks.
std::string TrimmedText(const Buffer& buffer) {
  return fuzz::TrimC(legacy::ReadText(buffer.data(), buffer.size(), 2));
}

void BuiltInObjects(Fakes& fakes, Input& input, bool setB) {
  auto& bios = fakes.firmware;
  bios.servesList = false;
  bios.machineId = setB ? 2476 : 1184;
  bios.toggles.clear();
  for (std::uint16_t code = 0; code < 0x90; ++code)
    if (const std::uint8_t b = input.Byte(); b != 0xFF) bios.toggles[code] = b;
  bios.securityEax = input.U32();
  bios.securityEbx = input.U32();
  const Buffer cmos = input.Bytes(128);
  std::copy(cmos.begin(), cmos.end(), bios.cmos.begin());
  std::fill(bios.cmos.begin() + static_cast<std::ptrdiff_t>(cmos.size()), bios.cmos.end(), 0);
  const Buffer asset = input.Bytes(input.Byte() % 80);
  bios.assetTag.assign(asset.begin(), asset.end());
  const Buffer owner = input.Bytes(input.Byte() % 130);
  bios.ownerTag.assign(owner.begin(), owner.end());
  bios.ownerTag = bios.ownerTag.substr(0, bios.ownerTag.find('\0'));
  bios.deviceCount = input.Byte() % 6;
  bios.priorityLength = input.Byte() % 8;
  bios.table = input.Bytes(4 + 16 * bios.deviceCount);

  legacy::SysObjTable table(&fakes.access);
  std::uint32_t bytes = 0;
  table.GetSysObjListSize(&bytes);
  Buffer list(std::max<std::uint32_t>(bytes, 4), 0);
  if (bytes == 0 || table.GetSysObjList(list.data(), bytes) == 0) return;
  for (const auto& entry : legacy::ParseSysObjList(list.data(), list.size())) {
    legacy::SysObjInfo info;
    if (table.GetSysObjInfo(entry.index, info.bytes.data(), 22) == 0) continue;
    const std::uint32_t size = info.size();
    const std::string detail = "object " + std::to_string(entry.index) + " kind " +
                               std::to_string(info.kind()) + " size " + std::to_string(size);
    // A read into a buffer of any size: never beyond it, and only when the value fits.
    const std::uint32_t trySize = input.U16() % (size + 8);
    Buffer small(trySize, 0xEE);
    if (table.GetSysObjValue(entry.index, small.data(), trySize) != 0)
      FUZZ_CHECK(trySize >= size, "a value read into a buffer too small for it: " + detail);

    Buffer value(size, 0);
    if (table.GetSysObjValue(entry.index, value.data(), size) == 0) continue;
    const std::uint16_t nameId = legacy::ReadU16(value.data(), size, 0, kNoString);
    FUZZ_CHECK(size < 2 || nameId != kNoString, "a value without its name: " + detail);

    // A buffer that names another object is refused, whatever its size and bytes.
    Buffer other = input.Bytes(input.Byte());
    if (other.size() >= 2 && legacy::ReadU16(other.data(), other.size(), 0, 0) != nameId) {
      const auto before = bios.held();
      FUZZ_CHECK(table.SetSysObjValue(entry.index, other.data(),
                                      static_cast<std::uint32_t>(other.size()), "", 0) == 0,
                 "a buffer naming another object was taken: " + detail);
      FUZZ_CHECK(bios.held() == before, "a refused buffer changed the firmware: " + detail);
    }

    // The value written back as read reads back the same.
    if (info.readOnly() || static_cast<ValueKind>(info.kind()) == ValueKind::StringTable) continue;
    table.SetSysObjValue(entry.index, value.data(), size, "", 0);
    Buffer again(size, 0);
    FUZZ_CHECK(table.GetSysObjValue(entry.index, again.data(), size) != 0,
               "a value written back can no longer be read: " + detail);
    if (static_cast<ValueKind>(info.kind()) == ValueKind::Alpha)
      FUZZ_CHECK(TrimmedText(again) == TrimmedText(value),
                 "a text written back reads otherwise: " + detail);
    else
      FUZZ_CHECK(again == value, "a value written back reads otherwise: " + detail + "\nfrom " +
                                     Show(value) + "\nto   " + Show(again));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fakes fakes;
  Input input(data, size);
  const std::uint8_t mode = input.Byte();
  if ((mode & 1) == 0)
    LibraryObjects(fakes, input);
  else
    BuiltInObjects(fakes, input, (mode & 2) != 0);
  return 0;
}
