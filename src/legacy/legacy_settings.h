// The legacy halves of a configuration action, served through the system-object table: loading
// every system object into records, the string lookups, and applying the changed records with
// one SETTING record each. They work on a state of their own, which the job owns, so that this
// backend never reaches up into the job.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "legacy/sys_obj_table.h"

namespace corvane {
class BiosAccess;
namespace log {
class ResultLog;
}

namespace legacy {

// One system object as a configuration action holds it.
struct LegacySetting {
  std::uint16_t objectIndex = 0;
  std::int16_t kind = 0;
  std::uint16_t flags = 0;
  std::int32_t size = 0;  // the value buffer size used to read it
  std::uint16_t nameId = kNoString;
  std::uint16_t currentChoice = 0;  // enum, enum_ext; kNoString for none
  std::array<std::uint16_t, 4> subNameIds{kNoString, kNoString, kNoString, kNoString};
  std::vector<std::uint16_t> choiceIds;  // choices, or list elements in order
  std::vector<std::string> strings;      // stringtable
  std::string text;                      // alpha, date, time
  std::vector<std::uint8_t> binaryData;  // binary
  std::int32_t maximum = 0;
  std::int32_t minimum = 0;
  std::int32_t value = 0;
  SysObjInfo info;
  std::int32_t changed = 0;

  [[nodiscard]] ValueKind valueKind() const { return static_cast<ValueKind>(kind); }
  [[nodiscard]] bool readOnly() const { return (flags & kReadOnlyFlag) != 0; }
  // enum_ext and ext_int are qualified by sub-names.
  [[nodiscard]] bool hasSubNames() const {
    return valueKind() == ValueKind::EnumExt || valueKind() == ValueKind::ExtInt;
  }
};

inline constexpr std::size_t kNoSetting = static_cast<std::size_t>(-1);

// What one configuration action holds on the legacy backend.
struct LegacyState {
  LegacyState() = default;
  ~LegacyState();
  LegacyState(const LegacyState&) = delete;
  LegacyState& operator=(const LegacyState&) = delete;

  // The job's access object, borrowed.
  BiosAccess* access = nullptr;
  std::vector<LegacySetting> legacySettings;  // in the order the firmware lists them
  std::size_t stringTable = kNoSetting;       // position in legacySettings
  bool unlocked = false;
  std::uint8_t lockMode = 0;
  std::uint8_t lockStatus = 0;
  bool initialized = false;
  std::unique_ptr<SysObjTable> legacyData;  // made on first use

  // Releases the records first, then the table.
  void Release();

  const LegacySetting* stringTableSetting() const {
    return stringTable < legacySettings.size() ? &legacySettings[stringTable] : nullptr;
  }

  // A name index and its four sub-names.
  using QualifiedName = std::array<std::uint16_t, 5>;
  struct QualifiedNameHash {
    std::size_t operator()(const QualifiedName& name) const {
      std::size_t hash = 0;
      for (const std::uint16_t part : name) hash = hash * 65599 + part;
      return hash;
    }
  };
  // Indexes over the records and the string table in use, so that every lookup of a file's
  // lines stays cheap on large tables; rebuilt whenever either changes.
  struct Indexes {
    std::size_t table = kNoSetting;  // the string table they were built for
    bool built = false;
    std::unordered_map<std::string, std::vector<std::uint16_t>> strings;  // key -> positions
    std::unordered_map<std::uint16_t, std::size_t> firstByName;           // any kind
    std::unordered_map<std::uint16_t, std::size_t> firstPlainByName;      // without sub-names
    std::unordered_map<QualifiedName, std::size_t, QualifiedNameHash> firstQualified;
  };
  Indexes indexes;
};

// Fills the records from the firmware; 1 when they were loaded, else 0. Clears the top bit of
// every byte of password, unlocks around the load when a password is set, and chooses the
// string table.
std::int32_t LoadLegacySettings(LegacyState& state, std::string& password);
// A new record for one list entry, or none when the object cannot be read or its kind is not
// one of the eleven.
std::optional<LegacySetting> ReadLegacySetting(SysObjTable& table, const SysObjListEntry& entry);

// The text at index of the string table in use (or of table when given), empty when there is
// none or index lies past its end.
std::string LookupString(const LegacyState& state, std::uint16_t index,
                         const LegacySetting* table = nullptr);
// The position of the first text of the string table in use that equals text without regard
// to case.
bool FindStringIndex(LegacyState& state, std::string_view text, std::uint16_t& index);
// The first record whose nameId equals; when subNameIds are given, a record with sub-names
// must match all four as well. None: kNoSetting.
std::size_t FindLegacySetting(LegacyState& state, std::uint16_t nameId,
                              const std::array<std::uint16_t, 4>* subNameIds);

// Writes every changed record, with its SETTING record in log; 1 after all were attempted, 0
// when the records were never loaded. A refused password is reported once.
std::int32_t ApplyLegacyChanges(LegacyState& state, std::string& password, log::ResultLog& log);
// A check of every changed record: each value that differs from what the firmware holds is
// reported and counted into differences, and nothing is written. False when a record's value
// could not be read.
bool CompareLegacyChanges(LegacyState& state, std::string& password, std::size_t& differences,
                          log::ResultLog& log);
// One record; what it prints is its outcome.
std::int32_t ApplyLegacySetting(LegacyState& state, LegacySetting& setting,
                                const std::string& password, log::ResultLog& log);

// The asset-tag packet for SetSecuritySettings: command, wanted text and password. Empty when
// the password does not fit the packet's 100 bytes.
std::vector<std::uint8_t> BuildSecurityPacket(std::uint8_t command, std::string_view wanted,
                                              std::string_view password);

// Clears bit 7 of every byte: the firmware takes seven-bit password bytes.
void ClearTopBits(std::string& text);

}  // namespace legacy
}  // namespace corvane
