#include "platform/physical_memory.h"

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

}  // namespace corvane::platform
