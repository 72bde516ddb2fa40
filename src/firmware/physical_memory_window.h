// A read-only window on physical memory for one read, and the firmware-text reader built on it:
// firmware records point at short texts in the BIOS memory area that no library call returns.
#pragma once

#include <cstdint>
#include <string>

#include "platform/physical_memory.h"

namespace corvane::firmware {

class PhysicalMemoryWindow {
 public:
  // Maps length bytes from address, or records why not; never fails loudly.
  PhysicalMemoryWindow(std::uint32_t address, std::uint32_t length);
  ~PhysicalMemoryWindow() = default;  // unmaps
  PhysicalMemoryWindow(const PhysicalMemoryWindow&) = delete;
  PhysicalMemoryWindow& operator=(const PhysicalMemoryWindow&) = delete;

  // The byte at address(), or nullptr when nothing is mapped.
  [[nodiscard]] const std::uint8_t* view() const { return mapping_->view(); }
  // The last status: "No Error", or why there is no view.
  [[nodiscard]] const std::string& message() const { return mapping_->message(); }
  // What is mapped: the request, or the range the system rounded it to.
  [[nodiscard]] std::uint32_t address() const { return mapping_->address(); }
  [[nodiscard]] std::uint32_t length() const { return mapping_->length(); }

 private:
  platform::PhysicalMemoryPtr mapping_;
};

// The window every firmware text is read through.
inline constexpr std::uint32_t kFirmwareTextWindow = 0xFFFF;
// How much of a text is examined before it is accepted.
inline constexpr std::uint32_t kFirmwareTextExamined = 20;

// The 64 KiB bank a firmware pointer's high half selects: a flat address up to 0x80, the system
// BIOS bank (15) up to 0xFFF, 0x1000 itself, or the top digit of a real-mode segment X000.
std::uint32_t FirmwareTextBank(std::uint32_t firmwarePointer);

// The text the pointer designates, into text; text stays as it was when nothing acceptable is
// there (no memory, a byte of 0x80 or more among the first 20, a pointer past the window).
void ReadFirmwareText(std::uint32_t firmwarePointer, std::string& text);

}  // namespace corvane::firmware
