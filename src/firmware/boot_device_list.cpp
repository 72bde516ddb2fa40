#include "firmware/boot_device_list.h"

#include <algorithm>
#include <map>

#include "firmware/physical_memory_window.h"

namespace corvane::firmware {

const std::array<DeviceCodeName, 17> DeviceCodeNames = {{
    {"HDA-L", "Hard Drive (C:)"},
    {"HDB-L", "Notebook Multibay 1"},
    {"HDC-L", "Notebook Multibay 2"},
    {"HDA-E", "Base Left Multibay"},
    {"HDB-E", "Base Right Multibay"},
    {"HDC-E", "Base Upper Right Multibay"},
    {"Intnl", "Network Controller"},
    {"PCI-A", "PCI Slot A"},
    {"PCI-B", "PCI Slot B"},
    {"PCI-C", "PCI Slot C"},
    {"BAY-C", "Hard Drive (C:)"},
    {"BAY-B", "IDE CD-ROM Drive"},
    {"BAY-A", "Notebook Multibay 1"},
    {"USB-CD", "USB CD ROM"},
    {"USB-FL", "USB Floppy"},
    {"USB-HD", "USB Hard Drive"},
    {"USB-LS", "USB LS-120 Drive"},
}};

std::string DisplayNameOf(const std::string& code) {
  for (const auto& entry : DeviceCodeNames)
    if (code == entry.code) return entry.displayName;
  return code;
}

bool BootDeviceList::Read(std::vector<std::string>* outNames) {
  tableTag_ = 0;
  tableSize_ = 0;
  names_.clear();
  if (biosAccess_ != nullptr &&
      biosAccess_->GetIplDevInfo(&deviceCount_, &priorityLength_, &tableTag_, &tableSize_) != 0 &&
      deviceCount_ != 0) {
    table_.clear();
    hasTable_ = false;
    // A table too large to be one, or too small to hold its own priority list, is not taken:
    // its bytes would be read and rearranged past its end.
    if (tableSize_ <= kMaxBootTableSize && deviceCount_ <= tableSize_) {
      table_.assign(tableSize_, 0);
      // Only a table the library filled is ever written back: a failed read would otherwise
      // send a priority list of zeros.
      hasTable_ =
          biosAccess_->GetIplTableInfo(table_.data(), tableSize_, priorityLength_, tableTag_) != 0;
      if (hasTable_) {
        for (std::uint32_t position = 0; position < deviceCount_; ++position) {
          const std::uint32_t device = table_[position];
          std::string name;
          // The record must lie wholly inside the table.
          const std::uint64_t pointerAt = std::uint64_t{priorityLength_} +
                                          std::uint64_t{kDeviceRecordSize} * device +
                                          kDevicePointerOffset;
          if (device < deviceCount_ && pointerAt + 4 <= table_.size()) {
            const std::uint32_t pointer =
                static_cast<std::uint32_t>(table_[pointerAt]) |
                (static_cast<std::uint32_t>(table_[pointerAt + 1]) << 8) |
                (static_cast<std::uint32_t>(table_[pointerAt + 2]) << 16) |
                (static_cast<std::uint32_t>(table_[pointerAt + 3]) << 24);
            ReadFirmwareText(pointer, name);
            name = DisplayNameOf(name);
          }
          if (outNames != nullptr && !name.empty()) outNames->push_back(name);
          names_.push_back(std::move(name));
        }
      }
    }
  }
  return names_.size() == deviceCount_;
}

std::int32_t BootDeviceList::ApplyOrder(const std::vector<std::string>& requested) {
  if (!hasTable_) Read(nullptr);
  if (!hasTable_ || priorityLength_ == 0) return 0;

  // A name given once moves every device of that name; a name given again takes the next
  // device of that name to the place of each repeat, its last mention taking the rest, so an
  // order written back as read keeps devices that share a name where they are.
  std::map<std::string, std::size_t> mentions;
  for (const auto& name : requested) ++mentions[name];

  // names_ has one entry per device; only the first priorityLength_ bytes are the priority
  // list that goes back to the firmware, and the bytes after them are device records, which a
  // move must never bring into the list.
  const std::size_t movable = std::min<std::size_t>(names_.size(), priorityLength_);
  std::size_t target = 0;
  for (const auto& name : requested) {
    if (name.empty()) continue;
    const bool last = --mentions[name] == 0;
    for (std::size_t k = target; k < movable; ++k) {
      if (names_[k] != name) continue;
      const auto nameAt = names_.begin();
      std::rotate(nameAt + static_cast<std::ptrdiff_t>(target),
                  nameAt + static_cast<std::ptrdiff_t>(k),
                  nameAt + static_cast<std::ptrdiff_t>(k) + 1);
      const auto byteAt = table_.begin();
      std::rotate(byteAt + static_cast<std::ptrdiff_t>(target),
                  byteAt + static_cast<std::ptrdiff_t>(k),
                  byteAt + static_cast<std::ptrdiff_t>(k) + 1);
      ++target;
      if (!last) break;
    }
  }
  return biosAccess_ != nullptr ? biosAccess_->SetIplPriority(table_.data(), priorityLength_) : 0;
}

}  // namespace corvane::firmware
