// The firmware's boot order (its initial-program-load priority) as a list of device names: the
// table comes from the management library, each device's short code text from BIOS memory.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::firmware {

// The management library's three boot-table calls; the BIOS-access object answers them, and
// every one answers 0 when the library is not usable.
class BootTableAccess {
 public:
  virtual ~BootTableAccess() = default;
  virtual std::int32_t GetIplDevInfo(std::uint32_t* deviceCount, std::uint32_t* priorityLength,
                                     std::uint32_t* tableTag, std::uint32_t* tableSize) = 0;
  virtual std::int32_t GetIplTableInfo(void* table, std::uint32_t tableSize,
                                       std::uint32_t priorityLength, std::uint32_t tableTag) = 0;
  virtual std::int32_t SetIplPriority(const void* table, std::uint32_t priorityLength) = 0;
};

struct DeviceCodeName {
  const char* code;         // the text in BIOS memory
  const char* displayName;  // what the boot order shows
};
// Searched in this order, case-sensitive, whole text.
extern const std::array<DeviceCodeName, 17> DeviceCodeNames;
// The display name of a code; a code the table does not know is its own name.
std::string DisplayNameOf(const std::string& code);

// Each device record is 16 bytes; its firmware pointer sits at byte 8.
inline constexpr std::uint32_t kDeviceRecordSize = 16;
inline constexpr std::uint32_t kDevicePointerOffset = 8;
// The largest table taken from the library: priority bytes address at most 256 records, so a
// larger size is a fault of the library rather than a table to allocate.
inline constexpr std::uint32_t kMaxBootTableSize = 1u << 20;

class BootDeviceList {
 public:
  explicit BootDeviceList(BootTableAccess* biosAccess) : biosAccess_(biosAccess) {}

  // Fills the table and one name per priority position (empty when the device's text could not
  // be read or its index is out of range); appends the non-empty names to outNames when given.
  // True when there is a name for every device the library reported.
  bool Read(std::vector<std::string>* outNames);
  // Moves the named devices to the front in the order given and writes the new priority; the
  // library's result (non-zero for success), 0 without a table.
  std::int32_t ApplyOrder(const std::vector<std::string>& requested);

  [[nodiscard]] const std::vector<std::string>& names() const { return names_; }
  [[nodiscard]] const std::vector<std::uint8_t>& table() const { return table_; }

 private:
  std::uint32_t deviceCount_ = 0;
  std::uint32_t priorityLength_ = 0;
  std::uint32_t tableTag_ = 0;
  std::uint32_t tableSize_ = 0;
  std::vector<std::uint8_t> table_;
  bool hasTable_ = false;
  std::vector<std::string> names_;
  BootTableAccess* biosAccess_;
};

}  // namespace corvane::firmware
