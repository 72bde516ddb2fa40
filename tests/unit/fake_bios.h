// The firmware behind the built-in system objects, for unit tests: interrupt 0x15 functions
// E845h and E842h, the tags, CMOS, the boot-device table and the system texts, served through
// the fake management library. Every interrupt call is logged with the block it was given.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fake_library.h"
#include "legacy/sys_obj_table.h"

namespace corvane::testing {

class FakeBios {
 public:
  struct Call {
    bool int15 = false;  // through TarnixCall32bitInt15IOCtl
    std::int32_t interrupt = 0;
    std::vector<std::uint8_t> sent;
    std::uint32_t U32(std::size_t at) const {
      return legacy::ReadU32(sent.data(), sent.size(), at, 0);
    }
    std::uint8_t Byte(std::size_t at) const { return at < sent.size() ? sent[at] : 0; }
    std::uint16_t code() const { return static_cast<std::uint16_t>(U32(8)); }
    std::string Text(std::size_t at, std::size_t n) const {
      return std::string(sent.begin() + static_cast<std::ptrdiff_t>(at),
                         sent.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
  };

  explicit FakeBios(FakeLibrary& library) {
    current_ = this;
    library.Set<legacy::TarnixCall16bitIntIOCtlFn>("TarnixCall16bitIntIOCtl", &Interrupt);
    library.Set<legacy::TarnixCall32bitInt15IOCtlFn>("TarnixCall32bitInt15IOCtl", &Int15);
    library.Set<legacy::TarnixCmosFn>("TarnixGetCMOS", &GetCmos);
    library.Set<legacy::TarnixCmosFn>("TarnixSetCMOS", &SetCmos);
    library.Set<legacy::TarnixGetIPLDevInfoFn>("TarnixGetIPLDevInfo", &DevInfo);
    library.Set<legacy::TarnixGetIPLTableInfoFn>("TarnixGetIPLTableInfo", &TableInfo);
    library.Set<legacy::TarnixSetIPLPriorityFn>("TarnixSetIPLPriority", &SetPriority);
    library.Set<legacy::TarnixTextFn>("TarnixGetSystemManufacturer", &Manufacturer);
    library.Set<legacy::TarnixTextFn>("TarnixGetSystemProduct", &Product);
    library.Set<legacy::TarnixTextFn>("TarnixGetSerialNumber", &Serial);
    library.Set<legacy::TarnixTextFn>("TarnixGetOwnershipString", &Owner);
  }
  ~FakeBios() { current_ = nullptr; }
  FakeBios(const FakeBios&) = delete;
  FakeBios& operator=(const FakeBios&) = delete;

  // E845h: BH of every known code; an unknown code answers with the carry set and AH 0x86.
  std::map<std::uint16_t, std::uint8_t> toggles;
  std::map<std::uint16_t, std::uint8_t> bl;     // BL answered for a code, when not 0
  std::map<std::uint16_t, std::uint8_t> ahFor;  // AH answered for a code (carry clear)
  bool refuseWrites = false;                    // writes answer with the carry set
  // E842h: what a read answers in EAX and EBX; a write moves the bits of ECX to EBX's.
  std::uint32_t securityEax = 0;
  std::uint32_t securityEbx = 0;
  bool securityCarry = false;  // a read answers with the carry set
  std::int32_t securityWriteResult = 1;
  // Asset tag: through the 32-bit call unless int15Fails; assetFails fails both paths.
  std::string assetTag;
  bool int15Fails = false;
  bool assetFails = false;
  std::string ownerTag;
  // CMOS bytes, and for each offset the bits that keep their value whatever is written.
  std::array<std::uint8_t, 128> cmos{};
  std::map<std::uint32_t, std::uint8_t> stuckBits;
  bool cmosReadFails = false;
  std::vector<std::string> cmosWrites;  // "offset count byte..." in hexadecimal
  // Boot-device table.
  std::uint32_t deviceCount = 0;
  std::uint32_t priorityLength = 0;
  std::vector<std::uint8_t> table;
  std::vector<std::vector<std::uint8_t>> priorityWrites;
  int tableReads = 0;
  std::string manufacturer = "Maker", product = "Model 1", serial = "SN-1";

  std::vector<Call> calls;
  // Interrupt calls for one E845h code.
  int CallsFor(std::uint16_t code) const {
    int n = 0;
    for (const auto& call : calls)
      if ((call.U32(0) & 0xFFFF) == 0xE845 && call.code() == code) ++n;
    return n;
  }
  std::uint16_t Checksum() const {
    return static_cast<std::uint16_t>((cmos[0x7B] << 8) | cmos[0x7C]);
  }

 private:
  static void Answer(std::uint8_t* block, std::uint32_t eax, bool carry) {
    legacy::WriteU32(block, 40, 0, eax);
    legacy::WriteU32(block, 40, 28, carry ? 1 : 0);
  }
  static std::int32_t Serve(bool int15, std::int32_t interrupt, void* data, std::uint32_t size) {
    FakeBios& bios = *current_;
    auto* block = static_cast<std::uint8_t*>(data);
    Call call{int15, interrupt, std::vector<std::uint8_t>(block, block + size)};
    bios.calls.push_back(call);
    const std::uint32_t eax = call.U32(0);
    const std::uint16_t code = call.code();
    if (eax == 0xE842) {
      legacy::WriteU32(block, size, 0, bios.securityEax);
      legacy::WriteU32(block, size, 4, bios.securityEbx);
      legacy::WriteU32(block, size, 28, bios.securityCarry ? 1 : 0);
      return 1;
    }
    if (eax == 0x0001E842) {
      const std::uint32_t mask = call.U32(8);
      bios.securityEax = (bios.securityEax & ~mask) | (call.U32(4) & mask);
      return bios.securityWriteResult;
    }
    if (eax != 0xE845) return 0;
    const bool write = call.Byte(4) == 1;
    if (code == 0x25) {
      if (write) {
        bios.assetTag = call.Text(41, call.Byte(40));
        return 1;
      }
      if (bios.assetFails || (int15 && bios.int15Fails)) {
        Answer(block, 0xE845, true);
        return 1;
      }
      std::memset(block + 40, 0, size - 40);
      block[40] = static_cast<std::uint8_t>(bios.assetTag.size());
      std::memcpy(block + 41, bios.assetTag.data(),
                  std::min<std::size_t>(bios.assetTag.size(), size - 41));
      Answer(block, 0, false);
      return 1;
    }
    if (code == 0x13 && write) {
      const std::string text = call.Text(40, size - 40);
      bios.ownerTag = text.substr(0, text.find('\0'));
      return 1;
    }
    const auto known = bios.toggles.find(code);
    if (known == bios.toggles.end()) {
      Answer(block, 0x8600, true);
      return 1;
    }
    if (write) {
      if (bios.refuseWrites) {
        Answer(block, 0x8600, true);
        return 1;
      }
      known->second = call.Byte(5);
      Answer(block, 0, false);
      return 1;
    }
    const auto ah = bios.ahFor.find(code);
    Answer(block, ah == bios.ahFor.end() ? 0 : static_cast<std::uint32_t>(ah->second) << 8, false);
    const auto b = bios.bl.find(code);
    block[4] = b == bios.bl.end() ? 0 : b->second;
    block[5] = known->second;
    return 1;
  }
  static std::int32_t Interrupt(std::int32_t interrupt, void* block, std::uint32_t size,
                                std::uint8_t*) {
    return Serve(false, interrupt, block, size);
  }
  static std::int32_t Int15(void* block, std::uint32_t size, std::uint8_t*) {
    return Serve(true, 0x15, block, size);
  }
  static std::int32_t GetCmos(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) {
    if (current_->cmosReadFails || offset + count > 128) return 0;
    std::memcpy(bytes, current_->cmos.data() + offset, count);
    return 1;
  }
  static std::int32_t SetCmos(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) {
    if (offset + count > 128) return 0;
    std::string record = Hex(offset) + " " + std::to_string(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const auto stuck = current_->stuckBits.find(offset + i);
      const std::uint8_t keep = stuck == current_->stuckBits.end() ? 0 : stuck->second;
      auto& byte = current_->cmos[offset + i];
      byte = static_cast<std::uint8_t>((byte & keep) | (bytes[i] & ~keep));
      record.append(" ").append(Hex(bytes[i]));
    }
    current_->cmosWrites.push_back(record);
    return 1;
  }
  static std::string Hex(std::uint32_t value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
      text.insert(text.begin(), digits[value & 0xF]);
      value >>= 4;
    } while (value != 0);
    return text.size() < 2 ? "0" + text : text;
  }
  static std::int32_t DevInfo(std::uint32_t* count, std::uint32_t* priority, std::uint32_t* tag,
                              std::uint32_t* size) {
    *count = current_->deviceCount;
    *priority = current_->priorityLength;
    *tag = 7;
    *size = static_cast<std::uint32_t>(current_->table.size());
    return current_->deviceCount != 0 ? 1 : 0;
  }
  static std::int32_t TableInfo(void* table, std::uint32_t size, std::uint32_t, std::uint32_t) {
    ++current_->tableReads;
    std::memcpy(table, current_->table.data(), std::min<std::size_t>(size, current_->table.size()));
    return 1;
  }
  static std::int32_t SetPriority(const void* table, std::uint32_t priority) {
    const auto* bytes = static_cast<const std::uint8_t*>(table);
    current_->priorityWrites.emplace_back(bytes, bytes + priority);
    std::memcpy(current_->table.data(), bytes, priority);
    return 1;
  }
  static const char* Manufacturer() { return current_->manufacturer.c_str(); }
  static const char* Product() { return current_->product.c_str(); }
  static const char* Serial() { return current_->serial.c_str(); }
  static const char* Owner() { return current_->ownerTag.c_str(); }

  static inline FakeBios* current_ = nullptr;
};

}  // namespace corvane::testing
