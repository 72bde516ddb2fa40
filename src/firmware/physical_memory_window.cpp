#include "firmware/physical_memory_window.h"

#include <algorithm>

namespace corvane::firmware {

PhysicalMemoryWindow::PhysicalMemoryWindow(std::uint32_t address, std::uint32_t length)
    : mapping_(platform::MapPhysicalMemory(address, length)) {}

std::uint32_t FirmwareTextBank(std::uint32_t firmwarePointer) {
  const std::uint32_t high = firmwarePointer >> 16;
  if (high <= 0x80) return high;
  if (high < 0x1000) return 15;
  if (high == 0x1000) return high;
  return high >> 12;
}

void ReadFirmwareText(std::uint32_t firmwarePointer, std::string& text) {
  const std::uint32_t wanted = FirmwareTextBank(firmwarePointer) * 0x10000;
  const std::uint32_t low = firmwarePointer & 0xFFFF;
  const PhysicalMemoryWindow window(wanted, kFirmwareTextWindow);
  const std::uint8_t* view = window.view();
  if (view == nullptr) return;
  // The view starts at the window's own address, which the system may have rounded down; a
  // text outside what is mapped (the last offset of the bank lies past a 65,535-byte window) is
  // not read at all.
  if (wanted < window.address()) return;
  const std::uint64_t offset = std::uint64_t{wanted - window.address()} + low;
  if (offset >= window.length()) return;
  const std::uint8_t* begin = view + offset;
  const std::uint8_t* end = view + window.length();
  const std::uint8_t* examinedEnd =
      begin + std::min<std::ptrdiff_t>(kFirmwareTextExamined, end - begin);
  for (const std::uint8_t* at = begin; at < examinedEnd && *at != 0; ++at)
    if (*at >= 0x80) return;
  text.assign(begin, std::find(begin, end, std::uint8_t{0}));
}

}  // namespace corvane::firmware
