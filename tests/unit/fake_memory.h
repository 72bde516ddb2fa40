// Physical memory for unit tests: texts placed at physical addresses, served through the
// physical-memory seam. Every window asked for is recorded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/physical_memory.h"

namespace corvane::testing {

class FakeMemory {
 public:
  FakeMemory() {
    platform::InstallPhysicalMemoryMapper([this](std::uint32_t address, std::uint32_t length) {
      windows.emplace_back(address, length);
      return std::make_unique<View>(*this, address, length);
    });
  }
  ~FakeMemory() { platform::InstallPhysicalMemoryMapper({}); }
  FakeMemory(const FakeMemory&) = delete;
  FakeMemory& operator=(const FakeMemory&) = delete;

  // Places bytes at a physical address (a text gets its NUL when nul is set).
  void Put(std::uint32_t address, const std::string& bytes, bool nul = true) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
      memory[address + static_cast<std::uint32_t>(i)] = static_cast<std::uint8_t>(bytes[i]);
    if (nul) memory[address + static_cast<std::uint32_t>(bytes.size())] = 0;
  }

  std::map<std::uint32_t, std::uint8_t> memory;  // unset bytes read as 0xFF
  std::vector<std::pair<std::uint32_t, std::uint32_t>> windows;
  bool mapsNothing = false;

 private:
  class View final : public platform::PhysicalMemoryView {
   public:
    View(const FakeMemory& owner, std::uint32_t address, std::uint32_t length)
        : address_(address), length_(length) {
      if (owner.mapsNothing) {
        message_ = "nothing here";
        return;
      }
      bytes_.assign(length, 0xFF);
      for (auto it = owner.memory.lower_bound(address);
           it != owner.memory.end() && it->first - address < length; ++it)
        bytes_[it->first - address] = it->second;
    }
    const std::uint8_t* view() const override { return bytes_.empty() ? nullptr : bytes_.data(); }
    std::uint32_t address() const override { return address_; }
    std::uint32_t length() const override { return length_; }
    const std::string& message() const override { return message_; }

   private:
    std::uint32_t address_;
    std::uint32_t length_;
    std::vector<std::uint8_t> bytes_;
    std::string message_ = "No Error";
  };
};

}  // namespace corvane::testing
