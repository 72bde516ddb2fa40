// A read-only view of a range of physical memory (the native section object on Windows, a
// read-only mapping of /dev/mem on Linux), behind a seam that the simulated machine and tests
// replace. Mapping never fails loudly: a view without bytes carries the reason in message().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace corvane::platform {

class PhysicalMemoryView {
 public:
  virtual ~PhysicalMemoryView() = default;  // unmaps
  // The first mapped byte, which is physical address(); nullptr when nothing is mapped.
  [[nodiscard]] virtual const std::uint8_t* view() const = 0;
  // What was mapped: the request, or the range the system rounded it to.
  [[nodiscard]] virtual std::uint32_t address() const = 0;
  [[nodiscard]] virtual std::uint32_t length() const = 0;
  // The last status, "No Error" when nothing went wrong.
  [[nodiscard]] virtual const std::string& message() const = 0;
};
using PhysicalMemoryPtr = std::unique_ptr<PhysicalMemoryView>;

// What the native views have in common: the range mapped, its first byte, the last status.
class MappedMemory : public PhysicalMemoryView {
 public:
  [[nodiscard]] const std::uint8_t* view() const override { return view_; }
  [[nodiscard]] std::uint32_t address() const override { return address_; }
  [[nodiscard]] std::uint32_t length() const override { return length_; }
  [[nodiscard]] const std::string& message() const override { return message_; }

 protected:
  MappedMemory(std::uint32_t address, std::uint32_t length) : address_(address), length_(length) {}
  // The status of a mapping the system refused, in the system's own words.
  void MappingRefused(const std::string& reason);

  std::uint32_t address_;
  std::uint32_t length_;
  const std::uint8_t* view_ = nullptr;
  std::string message_ = "No Error";
};

// Maps length bytes of physical memory from address; never nullptr.
PhysicalMemoryPtr MapPhysicalMemory(std::uint32_t address, std::uint32_t length);

using PhysicalMemoryMapper = std::function<PhysicalMemoryPtr(std::uint32_t, std::uint32_t)>;
// Installs a mapper for the whole process (the simulated machine, tests); an empty function
// restores the native one.
void InstallPhysicalMemoryMapper(PhysicalMemoryMapper mapper);

// The platform's own mapping (physical_memory_posix.cpp, physical_memory_win32.cpp).
PhysicalMemoryPtr MapNativePhysicalMemory(std::uint32_t address, std::uint32_t length);

#if !defined(_WIN32)
// A read-only mapping of length bytes at offset address of a memory device file; the native
// mapping uses /dev/mem. Tests map a copy instead.
PhysicalMemoryPtr MapMemoryDevice(const std::string& device, std::uint32_t address,
                                  std::uint32_t length);
#endif

}  // namespace corvane::platform
