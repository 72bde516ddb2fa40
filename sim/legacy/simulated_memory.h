// The physical memory of a simulated machine: the regions of the legacy section's `memory`, whose
// bytes firmware pointers lead to. The program reads it through its physical-memory window, which
// maps it in place of the computer's own while CORVANE_MACHINE names a machine. Read-only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/physical_memory.h"
#include "sim/machine/machine_file.h"

namespace corvane::sim {

class SimulatedMemory : public std::enable_shared_from_this<SimulatedMemory> {
 public:
  static constexpr std::uint32_t kMostRegionBytes = 0x1000000;

  // Reads a `memory` value (an array of regions); nullptr with a reason when it is not valid.
  static std::shared_ptr<const SimulatedMemory> Parse(const Json& memory, std::string& error);
  // Memory without a region: every request finds none.
  static std::shared_ptr<const SimulatedMemory> None();

  // A view of exactly the range when it lies inside one region; otherwise no view, and the
  // message of a range the system cannot map.
  platform::PhysicalMemoryPtr Map(std::uint32_t address, std::uint32_t length) const;

 private:
  struct Region {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
  };
  SimulatedMemory() = default;
  bool ParseRegion(const Json& item, const std::string& where, std::string& error);

  std::vector<Region> regions_;
};

// Makes the machine's memory (none when the document has no legacy `memory`) the physical memory
// of the process. The document has been checked when it was loaded.
void InstallMemory(const Json& document);

}  // namespace corvane::sim
