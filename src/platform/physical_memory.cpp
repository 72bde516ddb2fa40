#include "platform/physical_memory.h"

#include <cstdio>

namespace corvane::platform {
namespace {

PhysicalMemoryMapper& InstalledMapper() {
  static PhysicalMemoryMapper mapper;
  return mapper;
}

}  // namespace

PhysicalMemoryPtr MapPhysicalMemory(std::uint32_t address, std::uint32_t length) {
  if (InstalledMapper()) return InstalledMapper()(address, length);
  return MapNativePhysicalMemory(address, length);
}

void InstallPhysicalMemoryMapper(PhysicalMemoryMapper mapper) {
  InstalledMapper() = std::move(mapper);
}

void MappedMemory::MappingRefused(const std::string& reason) {
  char text[260];
  // A message cut short still says why.
  static_cast<void>(std::snprintf(text, sizeof text, "Could not map view of %X length %X (%s)",
                                  address_, length_, reason.c_str()));
  message_ = text;
}

}  // namespace corvane::platform
