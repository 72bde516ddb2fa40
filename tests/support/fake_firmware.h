// The management library and the firmware below it, for the tests and harnesses that hand the
// legacy backend firmware of any shape, including shapes no machine file describes: the loader
// gives a library whose entry points serve the system objects held here (every value request
// logged) or, when it serves no list, interrupt 0x15 (E845h toggles and tags, E842h security
// options), the CMOS bytes and the boot-device table, whose device texts lie in the physical memory
// held here. Every other entry point answers 0.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "legacy/sys_obj_table.h"
#include "legacy/tarnix_entry_points.h"
#include "platform/dynamic_library.h"
#include "platform/physical_memory.h"

namespace corvane::testing {

class FakeFirmware {
 public:
  struct Object {
    std::vector<std::uint8_t> info = std::vector<std::uint8_t>(22, 0);
    std::vector<std::uint8_t> value;
  };

  FakeFirmware() {
    current_ = this;
    platform::InstallLibraryLoader(
        [](const std::string&) -> platform::LibraryPtr { return std::make_unique<Library>(); });
    platform::InstallPhysicalMemoryMapper([this](std::uint32_t address, std::uint32_t length) {
      return std::make_unique<View>(memory, address, length);
    });
  }
  ~FakeFirmware() {
    platform::InstallLibraryLoader({});
    platform::InstallPhysicalMemoryMapper({});
    current_ = nullptr;
  }
  FakeFirmware(const FakeFirmware&) = delete;
  FakeFirmware& operator=(const FakeFirmware&) = delete;

  // Adds an object of kind with flags whose info gives infoSize (the value's own size when -1).
  void Add(legacy::ValueKind kind, std::vector<std::uint8_t> value, std::uint16_t flags = 0,
           std::int64_t infoSize = -1) {
    Object object;
    object.value = std::move(value);
    const auto size = static_cast<std::uint32_t>(infoSize < 0 ? object.value.size() : infoSize);
    legacy::WriteU16(object.info.data(), 22, 0, static_cast<std::uint16_t>(kind));
    legacy::WriteU16(object.info.data(), 22, 2, flags);
    legacy::WriteU32(object.info.data(), 22, 4, size);
    objects.push_back(std::move(object));
  }
  // Places a text and its NUL at a physical address; unset bytes read as 0xFF.
  void Put(std::uint32_t address, const std::string& text) {
    for (std::size_t i = 0; i <= text.size(); ++i)
      memory[address + static_cast<std::uint32_t>(i)] = static_cast<std::uint8_t>(text.c_str()[i]);
  }

  std::uint32_t machineId = 0;
  // The library's own objects.
  bool servesList = true;
  std::vector<Object> objects;
  std::vector<std::string> calls;  // "get INDEX SIZE", "set INDEX SIZE", "boot table"
  // E845h: BH of every known code; an unknown code answers with the carry set and AH 0x86.
  std::map<std::uint16_t, std::uint8_t> toggles;
  // E842h: what a read answers in EAX and EBX; a write moves the bits of ECX to EBX's.
  std::uint32_t securityEax = 0;
  std::uint32_t securityEbx = 0;
  std::string assetTag;
  std::string ownerTag;
  std::array<std::uint8_t, 128> cmos{};
  // The boot-device table.
  std::uint32_t deviceCount = 0;
  std::uint32_t priorityLength = 0;
  std::vector<std::uint8_t> table;
  std::map<std::uint32_t, std::uint8_t> memory;

  // What the built-in objects can change, to compare before and after.
  struct Held {
    bool operator==(const Held&) const = default;
    std::map<std::uint16_t, std::uint8_t> toggles;
    std::uint32_t eax, ebx;
    std::string asset, owner;
    std::array<std::uint8_t, 128> cmos;
    std::vector<std::uint8_t> table;
  };
  [[nodiscard]] Held held() const {
    return {toggles, securityEax, securityEbx, assetTag, ownerTag, cmos, table};
  }

 private:
  class Library final : public platform::DynamicLibrary {
   public:
    platform::EntryPoint Symbol(const char* name) override {
      const auto it = Served().find(name);
      return it == Served().end() ? reinterpret_cast<platform::EntryPoint>(&Zero) : it->second;
    }
  };

  class View final : public platform::PhysicalMemoryView {
   public:
    View(const std::map<std::uint32_t, std::uint8_t>& memory, std::uint32_t address,
         std::uint32_t length)
        : address_(address), length_(length), bytes_(length, 0xFF) {
      for (auto it = memory.lower_bound(address);
           it != memory.end() && it->first - address < length; ++it)
        bytes_[it->first - address] = it->second;
    }
    const std::uint8_t* view() const override { return bytes_.data(); }
    std::uint32_t address() const override { return address_; }
    std::uint32_t length() const override { return length_; }
    const std::string& message() const override { return message_; }

   private:
    std::uint32_t address_;
    std::uint32_t length_;
    std::vector<std::uint8_t> bytes_;
    std::string message_ = "No Error";
  };

  template <typename Fn>
  static std::pair<const std::string, platform::EntryPoint> Entry(const char* name, Fn function) {
    return {name, reinterpret_cast<platform::EntryPoint>(function)};
  }
  static const std::map<std::string, platform::EntryPoint>& Served() {
    static const std::map<std::string, platform::EntryPoint> served = {
        Entry<legacy::TarnixInitFn>("TarnixInit", [](std::int32_t, std::int32_t) { return 1; }),
        Entry<legacy::TarnixGetMachineIDFn>("TarnixGetMachineID",
                                            [] { return current_->machineId; }),
        Entry<legacy::TarnixGetSysObjListSizeFn>("TarnixGetSysObjListSize", &ListSize),
        Entry<legacy::TarnixGetSysObjListFn>("TarnixGetSysObjList", &List),
        Entry<legacy::TarnixGetSysObjInfoFn>("TarnixGetSysObjInfo", &Info),
        Entry<legacy::TarnixGetSysObjValueFn>("TarnixGetSysObjValue", &Get),
        Entry<legacy::TarnixSetSysObjValueFn>("TarnixSetSysObjValue", &Set),
        Entry<legacy::TarnixCall16bitIntIOCtlFn>(
            "TarnixCall16bitIntIOCtl",
            [](std::int32_t, void* block, std::uint32_t size, std::uint8_t*) {
              return Interrupt(static_cast<std::uint8_t*>(block), size);
            }),
        Entry<legacy::TarnixCall32bitInt15IOCtlFn>(
            "TarnixCall32bitInt15IOCtl",
            [](void* block, std::uint32_t size, std::uint8_t*) {
              return Interrupt(static_cast<std::uint8_t*>(block), size);
            }),
        Entry<legacy::TarnixCmosFn>("TarnixGetCMOS", &GetCmos),
        Entry<legacy::TarnixCmosFn>("TarnixSetCMOS", &SetCmos),
        Entry<legacy::TarnixGetIPLDevInfoFn>("TarnixGetIPLDevInfo", &DevInfo),
        Entry<legacy::TarnixGetIPLTableInfoFn>("TarnixGetIPLTableInfo", &TableInfo),
        Entry<legacy::TarnixSetIPLPriorityFn>("TarnixSetIPLPriority", &SetPriority),
        Entry<legacy::TarnixTextFn>("TarnixGetSystemManufacturer", [] { return "Maker"; }),
        Entry<legacy::TarnixTextFn>("TarnixGetSystemProduct", [] { return "Model 1"; }),
        Entry<legacy::TarnixTextFn>("TarnixGetSerialNumber", [] { return "SN-1"; }),
        Entry<legacy::TarnixTextFn>("TarnixGetOwnershipString",
                                    [] { return current_->ownerTag.c_str(); }),
    };
    return served;
  }

  static std::int32_t Zero() { return 0; }
  static std::int32_t ListSize(std::uint32_t* bytes) {
    if (!current_->servesList) return 0;
    *bytes = static_cast<std::uint32_t>(4 + 8 * current_->objects.size());
    return 1;
  }
  static std::int32_t List(void* list, std::uint32_t capacity) {
    const auto& objects = current_->objects;
    if (capacity < 4 + 8 * objects.size()) return 0;
    auto* out = static_cast<std::uint8_t*>(list);
    legacy::WriteU32(out, capacity, 0, static_cast<std::uint32_t>(objects.size()));
    for (std::size_t i = 0; i < objects.size(); ++i) {
      legacy::WriteU16(out, capacity, 4 + 8 * i, static_cast<std::uint16_t>(i));
      legacy::WriteU16(out, capacity, 6 + 8 * i, legacy::ReadU16(objects[i].info.data(), 22, 0, 0));
      legacy::WriteU32(out, capacity, 8 + 8 * i, legacy::ReadU32(objects[i].info.data(), 22, 4, 0));
    }
    return 1;
  }
  static std::int32_t Info(std::uint16_t index, void* info, std::uint32_t size) {
    if (index >= current_->objects.size() || size < 22) return 0;
    std::memcpy(info, current_->objects[index].info.data(), 22);
    return 1;
  }
  static std::int32_t Get(std::uint16_t index, void* buffer, std::uint32_t size) {
    current_->calls.push_back("get " + std::to_string(index) + " " + std::to_string(size));
    if (index >= current_->objects.size()) return 0;
    const auto& value = current_->objects[index].value;
    std::copy_n(value.begin(), std::min<std::size_t>(size, value.size()),
                static_cast<std::uint8_t*>(buffer));
    return 1;
  }
  static std::int32_t Set(std::uint16_t index, const void* buffer, std::uint32_t size) {
    current_->calls.push_back("set " + std::to_string(index) + " " + std::to_string(size));
    if (index >= current_->objects.size()) return 0;
    auto& value = current_->objects[index].value;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::vector<std::uint8_t> written(bytes, bytes + size);
    written.resize(std::max(written.size(), value.size()));
    value = written;
    return 1;
  }

  static void Answer(std::uint8_t* block, std::uint32_t size, std::uint32_t eax, bool carry) {
    legacy::WriteU32(block, size, 0, eax);
    legacy::WriteU32(block, size, 28, carry ? 1 : 0);
  }
  static std::int32_t Interrupt(std::uint8_t* block, std::uint32_t size) {
    FakeFirmware& bios = *current_;
    const std::uint32_t eax = legacy::ReadU32(block, size, 0, 0);
    const auto code = static_cast<std::uint16_t>(legacy::ReadU32(block, size, 8, 0));
    const auto text = [&](std::size_t at, std::size_t n) {
      return std::string(block + at, block + std::min<std::size_t>(at + n, size));
    };
    if (eax == 0xE842) {
      legacy::WriteU32(block, size, 0, bios.securityEax);
      legacy::WriteU32(block, size, 4, bios.securityEbx);
      legacy::WriteU32(block, size, 28, 0);
      return 1;
    }
    if (eax == 0x0001E842) {
      const std::uint32_t mask = legacy::ReadU32(block, size, 8, 0);
      bios.securityEax = (bios.securityEax & ~mask) | (legacy::ReadU32(block, size, 4, 0) & mask);
      return 1;
    }
    if (eax != 0xE845 || size < 6) return 0;
    const bool write = block[4] == 1;
    if ((code == 0x25 || (code == 0x13 && write)) && size <= 41) return 0;  // a tag needs room
    if (code == 0x25) {
      if (write) {
        bios.assetTag = text(41, block[40]);
        return 1;
      }
      std::memset(block + 40, 0, size - 40);
      block[40] = static_cast<std::uint8_t>(bios.assetTag.size());
      std::memcpy(block + 41, bios.assetTag.data(),
                  std::min<std::size_t>(bios.assetTag.size(), size - 41));
      Answer(block, size, 0, false);
      return 1;
    }
    if (code == 0x13 && write) {
      const std::string owner = text(40, size - 40);
      bios.ownerTag = owner.substr(0, owner.find('\0'));
      return 1;
    }
    const auto known = bios.toggles.find(code);
    if (known == bios.toggles.end()) {
      Answer(block, size, 0x8600, true);
    } else if (write) {
      known->second = block[5];
      Answer(block, size, 0, false);
    } else {
      Answer(block, size, 0, false);
      block[4] = 0;
      block[5] = known->second;
    }
    return 1;
  }
  static std::int32_t GetCmos(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) {
    if (offset + count > 128) return 0;
    std::memcpy(bytes, current_->cmos.data() + offset, count);
    return 1;
  }
  static std::int32_t SetCmos(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) {
    if (offset + count > 128) return 0;
    std::memcpy(current_->cmos.data() + offset, bytes, count);
    return 1;
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
    current_->calls.emplace_back("boot table");
    std::memcpy(table, current_->table.data(), std::min<std::size_t>(size, current_->table.size()));
    return 1;
  }
  static std::int32_t SetPriority(const void* table, std::uint32_t priority) {
    std::memcpy(current_->table.data(), table, priority);
    return 1;
  }

  static inline FakeFirmware* current_ = nullptr;
};

// Value buffers, little-endian.
struct Bytes {
  Bytes& u16(std::uint16_t v) {
    data.push_back(static_cast<std::uint8_t>(v));
    data.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  Bytes& i32(std::int32_t v) {
    for (int i = 0; i < 4; ++i)
      data.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& text(const std::string& t, bool nul = true) {
    data.insert(data.end(), t.begin(), t.end());
    if (nul) data.push_back(0);
    return *this;
  }
  Bytes& pad(std::size_t size) {
    data.resize(size, 0);
    return *this;
  }
  operator std::vector<std::uint8_t>() const { return data; }
  std::vector<std::uint8_t> data;
};

}  // namespace corvane::testing
