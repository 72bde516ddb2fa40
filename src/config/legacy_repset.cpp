// The REPSET text of the legacy records, and the RMSET reader that walks a file's lines into
// them; the apply that follows is the legacy backend's own.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>

#include "config/configuration_job.h"
#include "config/repset_file.h"
#include "legacy/legacy_settings.h"
#include "log/result_log.h"
#include "platform/text.h"

namespace corvane::config {
namespace {

using legacy::kNoString;
using legacy::LegacySetting;
using legacy::ValueKind;

constexpr std::string_view kDisabled = " Disabled";
constexpr std::size_t kAlphaPiece = 64;
constexpr std::size_t kSubNameSlots = 4;

void AppendNumberLine(std::int32_t number, std::string& text) {
  text += '\t';
  text += std::to_string(number);
  text += '\n';
}

// The C library's decimal conversion (optional sign, digits up to the first other character),
// held within 32 bits instead of overflowing.
std::int32_t ParseDecimal(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t number = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = number * 10 + (text[i] - '0');
    if (number > std::int64_t{INT_MAX} + 1) break;
  }
  if (negative) number = -number;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(number, INT_MIN, INT_MAX));
}

// The twin of an element line: its enabled or disabled form.
std::string TwinOf(std::string_view line) {
  if (line.find(kDisabled) == std::string_view::npos)
    return std::string(line) + std::string(kDisabled);
  std::string twin;
  for (std::size_t at = 0;;) {
    const std::size_t found = line.find(kDisabled, at);
    twin.append(line.substr(at, found - at));
    if (found == std::string_view::npos) break;
    at = found + kDisabled.size();
  }
  return twin;
}

// The size a record's new value needs, for the kinds whose value the file can lengthen.
void RecomputeSize(LegacySetting& setting) {
  const auto count = static_cast<std::int32_t>(setting.choiceIds.size());
  switch (setting.valueKind()) {
    case ValueKind::Enum:
      setting.size = 2 * count + 6;
      break;
    case ValueKind::Alpha:
    case ValueKind::Date:
    case ValueKind::Time:
      setting.size = static_cast<std::int32_t>(setting.text.size()) + 3;
      break;
    case ValueKind::OrderedList:
      setting.size = 2 * count + 4;
      break;
    case ValueKind::EnumExt:
      setting.size = 2 * count + 14;
      break;
    default:
      break;
  }
}

// The name as a REPSET file gives it: the name text and each sub-name that is not none.
std::string QualifiedName(const legacy::LegacyState& state, const LegacySetting& setting) {
  std::string name = legacy::LookupString(state, setting.nameId);
  if (!setting.hasSubNames()) return name;
  for (const std::uint16_t id : setting.subNameIds) {
    if (id == kNoString) continue;
    name += '\\';
    name += legacy::LookupString(state, id);
  }
  return name;
}

// The value of a record as a check reports it: the choice, the text, or the elements joined
// with commas.
std::string ValueText(const legacy::LegacyState& state, const LegacySetting& setting) {
  switch (setting.valueKind()) {
    case ValueKind::Enum:
    case ValueKind::EnumExt:
      return setting.currentChoice < setting.choiceIds.size()
                 ? legacy::LookupString(state, setting.choiceIds[setting.currentChoice])
                 : std::string();
    case ValueKind::OrderedList: {
      std::string text;
      for (const std::uint16_t id : setting.choiceIds) {
        if (!text.empty()) text += ',';
        text += legacy::LookupString(state, id);
      }
      return text;
    }
    case ValueKind::Int:
    case ValueKind::ExtInt:
      return std::to_string(setting.value);
    default:
      return setting.text;
  }
}

// The block being read: its record, how many of its value lines have counted, and what a text
// record held before it, for a text that cannot reach the firmware as the file holds it. A
// check also keeps the value before the block and the first marked choice the record lacks.
struct Block {
  LegacySetting* setting = nullptr;
  std::size_t values = 0;
  std::string textBefore;
  std::int32_t sizeBefore = 0;
  std::int32_t changedBefore = 0;
  bool refused = false;
  std::string name;
  std::string current;
  std::optional<std::string> unlistedChoice;
};

// Ends a block. A text with a zero byte would reach the firmware cut short while the result log
// shows it cut short too: such a value is passed over and the record keeps what it held.
void CloseBlock(ConfigurationJob& job, Block& block) {
  if (block.setting == nullptr) return;
  if (block.refused) {
    job.ReportInvalid(block.name, block.current, block.setting->text);
    block.setting->text = block.textBefore;
    block.setting->size = block.sizeBefore;
    block.setting->changed = block.changedBefore;
    return;
  }
  // A marked choice the setting lacks, with no choice after it that it has.
  if (block.unlistedChoice && block.setting->currentChoice == kNoString &&
      !platform::EqualsNoCase(*block.unlistedChoice, block.current))
    job.ReportInvalid(block.name, block.current, *block.unlistedChoice);
  RecomputeSize(*block.setting);
}

void TakeChoiceLine(legacy::LegacyState& state, Block& block, const std::string& line) {
  LegacySetting& setting = *block.setting;
  if (block.values++ == 0) setting.currentChoice = kNoString;
  if (line.front() != '*' || setting.currentChoice != kNoString) return;
  const std::string choice = WithoutLeadingBlanks(std::string_view(line).substr(1));
  std::uint16_t index = 0;
  const auto it = legacy::FindStringIndex(state, choice, index)
                      ? std::find(setting.choiceIds.begin(), setting.choiceIds.end(), index)
                      : setting.choiceIds.end();
  if (it != setting.choiceIds.end())
    setting.currentChoice = static_cast<std::uint16_t>(it - setting.choiceIds.begin());
  else if (!block.unlistedChoice)
    block.unlistedChoice = choice;
}

void TakeNumberLine(Block& block, const std::string& line) {
  LegacySetting& setting = *block.setting;
  const std::int32_t number = ParseDecimal(line);
  switch (block.values++) {
    case 0:
      setting.minimum = number;
      break;
    case 1:
      setting.maximum = number;
      break;
    default:
      setting.value = number;
      break;
  }
}

// An element line moves its element, in the form it names, to the next place of the order. A
// line that names no element left to place is passed over, and reported by a check.
void TakeElementLine(ConfigurationJob& job, Block& block, const std::string& line) {
  legacy::LegacyState& state = job.legacyState;
  LegacySetting& setting = *block.setting;
  std::uint16_t index = 0;
  if (!legacy::FindStringIndex(state, line, index)) {
    job.ReportInvalid(block.name, block.current, line);
    return;
  }
  std::uint16_t twin = kNoString;
  const bool hasTwin = legacy::FindStringIndex(state, TwinOf(line), twin);
  auto& ids = setting.choiceIds;
  const std::size_t placed = block.values;
  for (std::size_t j = placed; j < ids.size(); ++j) {
    if (ids[j] != index && !(hasTwin && ids[j] == twin)) continue;
    const auto at = ids.begin() + static_cast<std::ptrdiff_t>(placed);
    std::rotate(at, ids.begin() + static_cast<std::ptrdiff_t>(j),
                ids.begin() + static_cast<std::ptrdiff_t>(j) + 1);
    *at = index;
    ++block.values;
    return;
  }
  job.ReportInvalid(block.name, block.current, line);
}

}  // namespace

bool ConfigurationJob::WriteLegacyRepsetText(std::string& text) {
  const LegacySetting* table = legacyState.stringTableSetting();
  if (!initialized || table == nullptr) return false;
  const auto lookup = [&](std::uint16_t id) { return legacy::LookupString(legacyState, id); };
  text = lookup(table->nameId);
  text += '\n';
  for (const LegacySetting& setting : legacyState.legacySettings) {
    if (setting.valueKind() == ValueKind::StringTable) continue;
    text += QualifiedName(legacyState, setting);
    text += '\n';
    switch (setting.valueKind()) {
      case ValueKind::Enum:
      case ValueKind::EnumExt:
        for (std::size_t i = 0; i < setting.choiceIds.size(); ++i) {
          const std::string choice = lookup(setting.choiceIds[i]);
          if (choice == kPlaceholder) continue;
          text += '\t';
          if (i == setting.currentChoice) text += '*';
          text += choice;
          text += '\n';
        }
        break;
      case ValueKind::Alpha: {
        std::string_view rest = setting.text;
        // Pieces of 64 characters; the last one holds the rest, even when it is empty.
        for (; rest.size() > kAlphaPiece; rest.remove_prefix(kAlphaPiece)) {
          text += '\t';
          text += rest.substr(0, kAlphaPiece);
          text += '\n';
        }
        text += '\t';
        text += rest;
        text += '\n';
        break;
      }
      case ValueKind::Date:
      case ValueKind::Time:
        text += '\t';
        text += setting.text;
        text += '\n';
        break;
      case ValueKind::Int:
      case ValueKind::ExtInt:
        AppendNumberLine(setting.minimum, text);
        AppendNumberLine(setting.maximum, text);
        AppendNumberLine(setting.value, text);
        break;
      case ValueKind::OrderedList:
        for (const std::uint16_t id : setting.choiceIds) {
          text += '\t';
          text += lookup(id);
          text += '\n';
        }
        break;
      default:
        break;
    }
  }
  return true;
}

bool ConfigurationJob::ReadLegacyConfigFile(const std::string& path) {
  if (!initialized) Initialize();
  if (!initialized || legacyState.stringTableSetting() == nullptr) return false;
  std::vector<std::string> lines;
  if (!OpenRepsetFile(path, log::FileKind::kRmset, lines, log_)) {
    fileRefused = true;
    return false;
  }

  Block block;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (IsNameLine(line)) {
      CloseBlock(*this, block);
      block = Block{};
      const std::size_t slash = line.find('\\');
      std::uint16_t nameIndex = 0;
      if (!legacy::FindStringIndex(legacyState, std::string_view(line).substr(0, slash),
                                   nameIndex)) {
        ReportUnknown(line);
        continue;
      }
      // Up to four sub-names, each in its own slot; one not found leaves its slot empty.
      std::array<std::uint16_t, kSubNameSlots> subNames{kNoString, kNoString, kNoString, kNoString};
      if (slash != std::string::npos) {
        std::string_view rest = std::string_view(line).substr(slash + 1);
        for (std::size_t slot = 0; slot < kSubNameSlots && !rest.empty(); ++slot) {
          const std::size_t cut = rest.find('\\');
          std::uint16_t index = kNoString;
          if (legacy::FindStringIndex(legacyState, rest.substr(0, cut), index))
            subNames[slot] = index;
          rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        }
      }
      const std::size_t found = legacy::FindLegacySetting(legacyState, nameIndex, &subNames);
      if (found == legacy::kNoSetting) {
        ReportUnknown(line);
        continue;
      }
      LegacySetting& setting = legacyState.legacySettings[found];
      // The value lines of a read-only setting are passed over.
      if (setting.readOnly()) continue;
      if (compareOnly) {
        block.name = QualifiedName(legacyState, setting);
        block.current = ValueText(legacyState, setting);
      }
      block.textBefore = setting.text;
      block.sizeBefore = setting.size;
      block.changedBefore = setting.changed;
      setting.text.clear();
      setting.currentChoice = 0;
      setting.changed = 1;
      block.setting = &setting;
      continue;
    }
    if (block.setting == nullptr) continue;
    const std::string value = WithoutLeadingBlanks(line);
    if (value.empty()) continue;
    switch (block.setting->valueKind()) {
      case ValueKind::Enum:
      case ValueKind::EnumExt:
        TakeChoiceLine(legacyState, block, value);
        break;
      case ValueKind::Alpha:
      case ValueKind::Date:
      case ValueKind::Time:
        if (value.find('\0') != std::string::npos) block.refused = true;
        block.setting->text += value;
        break;
      case ValueKind::Int:
      case ValueKind::ExtInt:
        TakeNumberLine(block, value);
        break;
      case ValueKind::OrderedList:
        TakeElementLine(*this, block, value);
        break;
      default:
        break;
    }
  }
  CloseBlock(*this, block);
  return true;
}

}  // namespace corvane::config
