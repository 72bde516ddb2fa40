// The CMOS bytes and the boot-device table of the simulated legacy firmware.
#include <algorithm>
#include <cstring>

#include "platform/hex.h"
#include "sim/legacy/legacy_firmware.h"

namespace corvane::sim {
namespace {

using section::Writes;

constexpr std::size_t kRecordBytes = 16;
constexpr std::size_t kPointerAt = 8;
constexpr std::size_t kMostDevices = 255;
constexpr std::int64_t kMostPriorityLength = 0xFFFF;
constexpr std::uint8_t kPriorityFiller = 0xFF;

// An object of CMOS bytes by offset; `keys` receives each offset's spelling.
bool ReadCmosBytes(const Json& section, const char* name,
                   std::array<std::uint8_t, LegacyFirmware::kCmosBytes>& bytes,
                   std::array<std::string, LegacyFirmware::kCmosBytes>* keys, std::string& error) {
  const auto found = section.find(name);
  if (found == section.end()) return true;
  if (!found->is_object()) {
    error = std::string("\"") + name + "\" must be an object of bytes by offset";
    return false;
  }
  std::array<bool, LegacyFirmware::kCmosBytes> seen{};
  for (const auto& [key, value] : found->items()) {
    std::uint64_t offset = 0;
    std::uint64_t byte = 0;
    const std::string where = std::string(name) + "[\"" + key + "\"]";
    if (!section::ParseWord(Json(key), LegacyFirmware::kCmosBytes - 1, offset)) {
      error = section::WordReason(where + ": an offset", LegacyFirmware::kCmosBytes - 1);
      return false;
    }
    if (seen[offset]) {
      error = where + ": the offset is given twice";
      return false;
    }
    seen[offset] = true;
    if (!section::ParseWord(value, 0xFF, byte)) {
      error = section::WordReason(where, 0xFF);
      return false;
    }
    bytes[offset] = static_cast<std::uint8_t>(byte);
    if (keys != nullptr) (*keys)[offset] = key;
  }
  return true;
}

// The CMOS bytes a request names, when it is one the firmware serves.
bool CmosRange(std::uint32_t offset, std::uint32_t count, const void* bytes) {
  return bytes != nullptr && (count == 1 || count == 2) &&
         static_cast<std::uint64_t>(offset) + count <= LegacyFirmware::kCmosBytes;
}

}  // namespace

bool LegacyFirmware::ParseCmos(const Json& section, std::string& error) {
  return ReadCmosBytes(section, "cmos", cmos_, &cmosKeys_, error) &&
         ReadCmosBytes(section, "cmosFixedBits", cmosFixed_, nullptr, error);
}

bool LegacyFirmware::GetCmos(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const {
  if (!CmosRange(offset, count, bytes)) return false;
  for (std::uint32_t i = offset; i < offset + count; ++i)
    if (cmosReadFails_[i]) return false;
  std::memcpy(bytes, cmos_.data() + offset, count);
  return true;
}

bool LegacyFirmware::SetCmos(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) {
  if (!CmosRange(offset, count, bytes)) return false;
  for (std::uint32_t i = offset; i < offset + count; ++i)
    if (cmosWriteFails_[i]) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t at = offset + i;
    const auto value =
        static_cast<std::uint8_t>((bytes[i] & ~cmosFixed_[at]) | (cmos_[at] & cmosFixed_[at]));
    if (value == cmos_[at]) continue;
    cmos_[at] = value;
    if (cmosKeys_[at].empty()) cmosKeys_[at] = section::HexWord(at, 2);
    section::StoreWord(section_["cmos"][cmosKeys_[at]], value, 2);
    dirty_ = true;
  }
  return true;
}

bool LegacyFirmware::ParseBootDevices(const Json& section, std::string& error) {
  const auto found = section.find("bootDevices");
  if (found == section.end()) return true;
  const Json& item = *found;
  auto fail = [&error](const std::string& reason) {
    error = "bootDevices: " + reason;
    return false;
  };
  if (!item.is_object()) return fail("not an object");
  for (const auto& [key, value] : item.items()) {
    (void)value;
    static constexpr std::string_view kKeys[] = {"devices", "priority", "priorityLength",
                                                 "tableTag", "writes"};
    if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys))
      return fail("unknown key \"" + key + "\"");
  }
  const auto devices = item.find("devices");
  if (devices == item.end() || !devices->is_array() || devices->size() > kMostDevices)
    return fail("\"devices\" must be an array of at most 255 devices");
  for (std::size_t i = 0; i < devices->size(); ++i) {
    const Json& device = (*devices)[i];
    const std::string where = "devices[" + std::to_string(i) + "]: ";
    if (!device.is_object()) return fail(where + "not an object");
    for (const auto& [key, value] : device.items()) {
      (void)value;
      if (key != "pointer" && key != "record")
        return fail(std::string(where).append("unknown key \"").append(key).append("\""));
    }
    std::array<std::uint8_t, kRecordBytes> record{};
    const auto bytes = device.find("record");
    if (bytes != device.end()) {
      std::string decoded;
      if (!bytes->is_string() || !platform::DecodeHex(bytes->get<std::string>(), decoded) ||
          decoded.size() != kRecordBytes)
        return fail(where + "\"record\" must be 16 bytes, 32 hexadecimal digits");
      std::copy(decoded.begin(), decoded.end(), record.begin());
    }
    if (device.contains("pointer")) {
      std::uint64_t pointer = 0;
      if (!section::ReadWord(device, "pointer", 0xFFFFFFFF, pointer, error))
        return fail(where + error);
      for (std::size_t b = 0; b < 4; ++b)
        record[kPointerAt + b] = static_cast<std::uint8_t>(pointer >> (8 * b));
    }
    records_.push_back(record);
  }

  const auto priority = item.find("priority");
  if (priority == item.end()) {
    for (std::size_t i = 0; i < records_.size(); ++i)
      priority_.push_back(static_cast<std::uint8_t>(i));
  } else {
    if (!priority->is_array() || priority->size() != records_.size())
      return fail(R"("priority" must be an array of as many device indices as "devices")");
    for (const Json& index : *priority) {
      std::uint64_t number = 0;
      if (!section::ParseWord(index, 0xFF, number))
        return fail(section::WordReason("a \"priority\" entry", 0xFF));
      priority_.push_back(static_cast<std::uint8_t>(number));
    }
  }

  auto length = static_cast<std::int64_t>(records_.size());
  if (!section::ReadNumber(item, "priorityLength", length, kMostPriorityLength, length, error))
    return fail(error + " (at least the number of devices)");
  priorityLength_ = static_cast<std::uint32_t>(length);
  std::uint64_t tag = tableTag_;
  if (!section::ReadWord(item, "tableTag", 0xFFFFFFFF, tag, error) ||
      !section::ReadWrites(item, "writes", priorityWrites_, error))
    return fail(error);
  tableTag_ = static_cast<std::uint32_t>(tag);
  hasBootDevices_ = true;
  return true;
}

bool LegacyFirmware::IplDevInfo(std::uint32_t& deviceCount, std::uint32_t& priorityLength,
                                std::uint32_t& tableTag, std::uint32_t& tableSize) const {
  if (!hasBootDevices_ || iplInfoFails_) return false;
  deviceCount = static_cast<std::uint32_t>(records_.size());
  priorityLength = priorityLength_;
  tableTag = tableTag_;
  tableSize = priorityLength_ + static_cast<std::uint32_t>(kRecordBytes * records_.size());
  return true;
}

bool LegacyFirmware::IplTable(void* table, std::uint32_t tableSize, std::uint32_t priorityLength,
                              std::uint32_t tableTag) const {
  const std::size_t size = priorityLength_ + kRecordBytes * records_.size();
  if (!hasBootDevices_ || iplTableFails_ || table == nullptr || tableSize < size ||
      priorityLength != priorityLength_ || tableTag != tableTag_)
    return false;
  auto* bytes = static_cast<std::uint8_t*>(table);
  std::copy(priority_.begin(), priority_.end(), bytes);
  std::fill(bytes + priority_.size(), bytes + priorityLength_, kPriorityFiller);
  for (std::size_t i = 0; i < records_.size(); ++i)
    std::copy(records_[i].begin(), records_[i].end(), bytes + priorityLength_ + kRecordBytes * i);
  return true;
}

bool LegacyFirmware::SetIplPriority(const void* table, std::uint32_t priorityLength) {
  if (!hasBootDevices_ || table == nullptr || priorityLength != priorityLength_) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(table);
  std::vector<std::uint8_t> next(bytes, bytes + priority_.size());
  // A new order of the same devices, nothing lost and nothing added.
  std::vector<std::uint8_t> sortedNext = next, sortedOld = priority_;
  std::sort(sortedNext.begin(), sortedNext.end());
  std::sort(sortedOld.begin(), sortedOld.end());
  if (sortedNext != sortedOld || priorityWrites_ == Writes::Refuse) return false;
  if (priorityWrites_ == Writes::Accept && next != priority_) {
    priority_ = next;
    section_["bootDevices"]["priority"] = Json(std::vector<unsigned>(next.begin(), next.end()));
    dirty_ = true;
  }
  return true;
}

}  // namespace corvane::sim
