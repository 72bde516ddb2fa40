// The simulated legacy firmware: the `legacy` section of a machine file as the management
// library serves it. It holds the system objects (each a 22-byte information record and a value
// buffer), the setup password as keys, and the lock that guards writes. The library in tarnix/
// exports it; the program checks a machine's section with it when it starts.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sim/machine_file.h"

namespace corvane::sim {

enum class SystemText { Manufacturer, Product, SerialNumber, Ownership };

class LegacyFirmware {
 public:
  // Reads a legacy section; nullptr with a reason when it is not a valid one.
  static std::unique_ptr<LegacyFirmware> Parse(const Json& section, std::string& error);
  ~LegacyFirmware();
  LegacyFirmware(const LegacyFirmware&) = delete;
  LegacyFirmware& operator=(const LegacyFirmware&) = delete;

  bool initFails() const { return initFails_; }
  std::uint32_t machineId() const { return machineId_; }
  const std::string& Text(SystemText which) const;
  bool passwordSet() const { return passwordSet_; }

  // 0 on success; the password travels as keys, one byte each.
  std::int32_t ChangeAdminPassword(std::string_view current, std::string_view next);
  // state 0 unlocks, 1 locks; non-zero on success.
  std::int32_t ChangeLockState(std::string_view password, std::int32_t state, std::uint8_t& status);
  bool ListSize(std::uint32_t& bytes) const;
  bool List(void* list, std::uint32_t capacity) const;
  bool Info(std::uint16_t index, void* info, std::uint32_t size) const;
  bool Value(std::uint16_t index, void* buffer, std::uint32_t size) const;
  bool SetValue(std::uint16_t index, const void* buffer, std::uint32_t size);
  bool SetSecuritySettings(const void* packet, std::uint32_t length, std::uint8_t& status);

  // The section as it is to be written back, and whether it changed since it was last saved.
  const Json& section() const { return section_; }
  bool dirty() const { return dirty_; }
  void MarkSaved() { dirty_ = false; }

  struct Object;

 private:
  LegacyFirmware();
  bool ParseSection(const Json& section, std::string& error);
  bool ParseObject(std::size_t position, std::string& error);
  bool ResolveIndex(const Json& value, std::uint16_t& index, std::string& error) const;
  bool ResolveIndices(const Json& value, std::size_t most, std::vector<std::uint16_t>& indices,
                      std::string& error) const;
  bool Matches(std::string_view password) const;
  std::string DeviceOf(std::uint16_t index) const;
  // Whether the text table gives this index back for its text.
  bool TextNames(std::uint16_t index) const;
  // The order an ordered-list write leaves; false when the firmware refuses the write.
  bool ReorderedList(const Object& object, const std::uint8_t* bytes, std::uint32_t size,
                     std::vector<std::uint16_t>& result) const;
  void StoreList(Object& object, std::size_t position, std::vector<std::uint16_t> result);
  bool StoreText(Object& object, std::size_t position, std::string text);
  void StorePassword(const std::string& keys);

  Json section_;
  bool dirty_ = false;
  bool initFails_ = false;
  bool listFails_ = false;
  bool unlockFails_ = false;  // unlocking refuses even the right password
  bool hasList_ = false;
  std::uint32_t machineId_ = 0;
  std::array<std::string, 4> texts_;
  bool passwordSet_ = false;
  std::string passwordKeys_;
  std::int64_t maxPasswordLength_ = -1;
  bool hasChangeReturn_ = false;
  std::int32_t changeReturn_ = 0;
  bool ignorePasswordChanges_ = false;
  std::uint8_t wrongPasswordStatus_ = 128;
  bool writesNeedUnlock_ = true;
  bool unlocked_ = false;
  std::vector<Object> objects_;
  // The texts that names in the section are looked up in, and each text's first index.
  std::vector<std::string> textTable_;
  std::unordered_map<std::string, std::uint16_t> textIndex_;
};

}  // namespace corvane::sim
