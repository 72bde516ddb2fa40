#include "legacy/sys_obj_table.h"

#include <algorithm>
#include <cstring>

#include "legacy/bios_access.h"

namespace corvane::legacy {
namespace {

// Whether a field of n bytes at offset lies wholly within size bytes of data.
bool Fits(const std::uint8_t* data, std::size_t size, std::size_t offset, std::size_t n) {
  return data != nullptr && size >= n && offset <= size - n;
}

}  // namespace

std::uint16_t ReadU16(const std::uint8_t* data, std::size_t size, std::size_t offset,
                      std::uint16_t fallback) {
  if (!Fits(data, size, offset, 2)) return fallback;
  return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}

std::uint32_t ReadU32(const std::uint8_t* data, std::size_t size, std::size_t offset,
                      std::uint32_t fallback) {
  if (!Fits(data, size, offset, 4)) return fallback;
  return static_cast<std::uint32_t>(data[offset]) |
         (static_cast<std::uint32_t>(data[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(data[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(data[offset + 3]) << 24);
}

void WriteU16(std::uint8_t* data, std::size_t size, std::size_t offset, std::uint16_t value) {
  if (!Fits(data, size, offset, 2)) return;
  data[offset] = static_cast<std::uint8_t>(value);
  data[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void WriteU32(std::uint8_t* data, std::size_t size, std::size_t offset, std::uint32_t value) {
  if (!Fits(data, size, offset, 4)) return;
  for (std::size_t i = 0; i < 4; ++i)
    data[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::string ReadText(const std::uint8_t* data, std::size_t size, std::size_t offset) {
  if (data == nullptr || offset >= size) return {};
  const auto* begin = data + offset;
  const auto* end = std::find(begin, data + size, std::uint8_t{0});
  return {begin, end};
}

std::vector<SysObjListEntry> ParseSysObjList(const std::uint8_t* list, std::size_t size) {
  std::vector<SysObjListEntry> entries;
  if (list == nullptr || size < kSysObjListHeaderSize) return entries;
  const std::size_t room = (size - kSysObjListHeaderSize) / kSysObjListEntrySize;
  const std::size_t count = std::min<std::size_t>(ReadU32(list, size, 0, 0), room);
  entries.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kSysObjListHeaderSize + i * kSysObjListEntrySize;
    entries.push_back({ReadU16(list, size, at, 0), ReadU16(list, size, at + 2, 0),
                       ReadU32(list, size, at + 4, 0)});
  }
  return entries;
}

// ---- SysObj -------------------------------------------------------------------------------

std::int32_t SysObj::IsPresent(BiosAccess* access) {
  if (!presenceKnown) {
    // Sized once: some objects ask the firmware for their size.
    const std::uint32_t size = GetSize(access);
    std::vector<std::uint8_t> trial(std::max<std::uint32_t>(size, 1));
    present = GetValue(access, trial.data(), size);
    presenceKnown = true;
  }
  return present;
}

std::int32_t SysObj::SetValue(BiosAccess* /*access*/, const std::uint8_t* /*buffer*/,
                              std::uint32_t /*size*/, const char* /*password*/,
                              std::uint32_t /*passwordLength*/) {
  return 0;
}

std::uint32_t SysObj::GetSize(BiosAccess* /*access*/) {
  return size_;
}

std::int32_t SysObj::GetInfo(BiosAccess* access, std::uint8_t* info) {
  if (info == nullptr || IsPresent(access) == 0) return 0;
  std::memset(info, 0, kSysObjInfoSize);
  WriteU16(info, kSysObjInfoSize, 0, static_cast<std::uint16_t>(GetKind()));
  WriteU16(info, kSysObjInfoSize, 2, row_.flags);
  WriteU32(info, kSysObjInfoSize, 4, GetSize(access));
  for (std::size_t level = 0; level < 6; ++level)
    WriteU16(info, kSysObjInfoSize, 8 + 2 * level, kNoString);
  WriteU16(info, kSysObjInfoSize, 8, row_.rootMenuId);
  WriteU16(info, kSysObjInfoSize, 10, row_.subMenu1Id);
  return 1;
}

bool SysObj::PrepareValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) {
  if (access == nullptr || buffer == nullptr || size < GetSize(access)) return false;
  std::memset(buffer, 0, size);
  return true;
}

bool SysObj::AcceptsValue(const std::uint8_t* buffer, std::uint32_t size) const {
  return buffer != nullptr && size >= 4 && ReadU16(buffer, size, 0, kNoString) == row_.nameId;
}

// ---- SysObjTable --------------------------------------------------------------------------

void SysObjTable::Build() {
  built_ = true;
  std::uint32_t bytes = 0;
  if (access_->GetSysObjListSize(&bytes) != 0 && bytes > 0) {
    passThrough_ = true;
    return;
  }
  const auto machineId = static_cast<std::uint16_t>(access_->GetMachineId() & 0xFFFF);
  std::size_t next = 0;
  for (auto& object : MakeBuiltInObjects(ChooseBuiltInSet(machineId), machineId)) {
    // An absent object, or one for which no slot is left, is dropped.
    if (object->IsPresent(access_) == 0 || next == kCapacity) continue;
    slots_[next++] = std::move(object);
  }
}

std::size_t SysObjTable::FilledSlots() const {
  std::size_t count = 0;
  while (count < kCapacity && slots_[count]) ++count;
  return count;
}

SysObj* SysObjTable::Slot(std::uint16_t index) {
  return index < FilledSlots() ? slots_[index].get() : nullptr;
}

std::int32_t SysObjTable::GetSysObjListSize(std::uint32_t* bytes) {
  if (!built_) Build();
  if (passThrough_) return access_->GetSysObjListSize(bytes);
  const std::size_t filled = FilledSlots();
  // A table of string tables alone has no settings to offer.
  const bool hasSettings =
      std::any_of(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(filled),
                  [](const auto& object) { return object->GetKind() != ValueKind::StringTable; });
  const std::uint32_t size =
      hasSettings
          ? static_cast<std::uint32_t>(kSysObjListEntrySize * filled + kSysObjListHeaderSize)
          : 0;
  if (bytes != nullptr) *bytes = size;
  return hasSettings ? 1 : 0;
}

std::int32_t SysObjTable::GetSysObjList(void* list, std::uint32_t capacity) {
  if (!built_) Build();
  if (passThrough_) return access_->GetSysObjList(list, capacity);
  const std::size_t filled = FilledSlots();
  if (list == nullptr || capacity < kSysObjListEntrySize * filled + kSysObjListHeaderSize) return 0;
  auto* bytes = static_cast<std::uint8_t*>(list);
  WriteU32(bytes, capacity, 0, static_cast<std::uint32_t>(filled));
  for (std::size_t i = 0; i < filled; ++i) {
    const std::size_t at = kSysObjListHeaderSize + i * kSysObjListEntrySize;
    WriteU16(bytes, capacity, at, static_cast<std::uint16_t>(i));
    WriteU16(bytes, capacity, at + 2, static_cast<std::uint16_t>(slots_[i]->GetKind()));
    WriteU32(bytes, capacity, at + 4, slots_[i]->GetSize(access_));
  }
  return 1;
}

std::int32_t SysObjTable::GetSysObjInfo(std::uint16_t index, void* info, std::uint32_t size) {
  if (!built_) Build();
  if (passThrough_) return access_->GetSysObjInfo(index, info, size);
  SysObj* object = Slot(index);
  // The record is always 22 bytes; a smaller one would be overrun.
  if (object == nullptr || info == nullptr || size < kSysObjInfoSize) return 0;
  return object->GetInfo(access_, static_cast<std::uint8_t*>(info));
}

std::int32_t SysObjTable::GetSysObjValue(std::uint16_t index, void* buffer, std::uint32_t size) {
  if (!built_) Build();
  if (passThrough_) return access_->GetSysObjValue(index, buffer, size);
  SysObj* object = Slot(index);
  if (object == nullptr) return 0;
  return object->GetValue(access_, static_cast<std::uint8_t*>(buffer), size);
}

std::int32_t SysObjTable::SetSysObjValue(std::uint16_t index, const void* buffer,
                                         std::uint32_t size, const char* password,
                                         std::uint32_t passwordLength) {
  if (!built_) Build();
  if (passThrough_) return access_->SetSysObjValue(index, buffer, size);
  SysObj* object = Slot(index);
  if (object == nullptr) return 0;
  return object->SetValue(access_, static_cast<const std::uint8_t*>(buffer), size, password,
                          passwordLength);
}

}  // namespace corvane::legacy
