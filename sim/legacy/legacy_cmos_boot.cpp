// The CMOS bytes and the boot-device table of the simulated legacy firmware.
#include <algorithm>
#include <cstring>

#include "platform/hex.h"
#include "sim/legacy/legacy_firmware.h"
#include "sim/machine/schema.h"

namespace corvane::sim {
namespace {

constexpr std::size_t kRecordBytes = 16;
constexpr std::size_t kPointerAt = 8;
constexpr std::size_t kMostDevices = 255;
constexpr std::int64_t kMostPriorityLength = 0xFFFF;
constexpr std::uint8_t kPriorityFiller = 0xFF;

// The CMOS bytes a request names, when it is one the firmware serves.
bool CmosRange(std::uint32_t offset, std::uint32_t count, const void* bytes) {
  return bytes != nullptr && (count == 1 || count == 2) &&
         static_cast<std::uint64_t>(offset) + count <= LegacyFirmware::kCmosBytes;
}

}  // namespace

bool LegacyFirmware::ParseCmos(bool fixedBits, const Json& bytes, const std::string& label,
                               std::string& error) {
  const char* name = fixedBits ? "cmosFixedBits" : "cmos";
  if (!bytes.is_object()) {
    error = label + " must be an object of bytes by offset";
    return false;
  }
  std::array<bool, kCmosBytes> seen{};
  for (const auto& [key, value] : bytes.items()) {
    std::uint64_t offset = 0;
    std::uint64_t byte = 0;
    const std::string where = std::string(name) + "[\"" + key + "\"]";
    if (!section::ParseWord(Json(key), kCmosBytes - 1, offset)) {
      error = section::WordReason(where + ": an offset", kCmosBytes - 1);
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
    (fixedBits ? cmosFixed_ : cmos_)[offset] = static_cast<std::uint8_t>(byte);
    if (!fixedBits) cmosKeys_[offset] = key;
  }
  return true;
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

bool LegacyFirmware::ParseBootDevices(const Json& item, const std::string& /*label*/,
                                      std::string& error) {
  const std::string devicesReason = R"("devices" must be an array of at most 255 devices)";
  const schema::Key keys[] = {
      schema::Required({"devices",
                        [&](const Json& devices, const std::string&, std::string& reason) {
                          if (!devices.is_array() || devices.size() > kMostDevices) {
                            reason = devicesReason;
                            return false;
                          }
                          return ParseDevices(devices, reason);
                        }},
                       devicesReason),
      {"priority",
       [this](const Json& priority, const std::string& label, std::string& reason) {
         if (!priority.is_array() || priority.size() != records_.size()) {
           reason = label + R"( must be an array of as many device indices as "devices")";
           return false;
         }
         for (const Json& index : priority) {
           std::uint64_t number = 0;
           if (!section::ParseWord(index, 0xFF, number)) {
             reason = section::WordReason("a " + label + " entry", 0xFF);
             return false;
           }
           priority_.push_back(static_cast<std::uint8_t>(number));
         }
         return true;
       }},
      {"priorityLength",
       [this](const Json& length, const std::string& label, std::string& reason) {
         const auto devices = static_cast<std::int64_t>(records_.size());
         std::int64_t number = 0;
         if (!section::ReadInteger(length, devices, kMostPriorityLength, number)) {
           reason = schema::IntegerReason(label, devices, kMostPriorityLength) +
                    " (at least the number of devices)";
           return false;
         }
         priorityLength_ = static_cast<std::uint32_t>(number);
         return true;
       }},
      schema::Word("tableTag", 0xFFFFFFFF, tableTag_),
      schema::Writes("writes", priorityWrites_)};
  if (!schema::ReadPart(item, "bootDevices", keys, error)) return false;
  if (!item.contains("priority"))
    for (std::size_t i = 0; i < records_.size(); ++i)
      priority_.push_back(static_cast<std::uint8_t>(i));
  if (!item.contains("priorityLength"))
    priorityLength_ = static_cast<std::uint32_t>(records_.size());
  hasBootDevices_ = true;
  return true;
}

bool LegacyFirmware::ParseDevices(const Json& devices, std::string& error) {
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const Json& device = devices[i];
    std::array<std::uint8_t, kRecordBytes> record{};
    std::uint64_t pointer = 0;
    const schema::Key keys[] = {
        {"record",
         [&record](const Json& bytes, const std::string& label, std::string& reason) {
           std::string decoded;
           if (!bytes.is_string() || !platform::DecodeHex(bytes.get<std::string>(), decoded) ||
               decoded.size() != kRecordBytes) {
             reason = label + " must be 16 bytes, 32 hexadecimal digits";
             return false;
           }
           std::copy(decoded.begin(), decoded.end(), record.begin());
           return true;
         }},
        schema::Word("pointer", 0xFFFFFFFF, pointer)};
    if (!schema::ReadPart(device, "devices[" + std::to_string(i) + "]", keys, error)) return false;
    if (device.contains("pointer"))
      for (std::size_t b = 0; b < 4; ++b)
        record[kPointerAt + b] = static_cast<std::uint8_t>(pointer >> (8 * b));
    records_.push_back(record);
  }
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
  if (sortedNext != sortedOld || priorityWrites_ == section::Writes::Refuse) return false;
  if (priorityWrites_ == section::Writes::Accept && next != priority_) {
    priority_ = next;
    section_["bootDevices"]["priority"] = Json(std::vector<unsigned>(next.begin(), next.end()));
    dirty_ = true;
  }
  return true;
}

}  // namespace corvane::sim
