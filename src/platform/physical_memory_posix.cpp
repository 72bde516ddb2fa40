#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/physical_memory.h"

namespace corvane::platform {
namespace {

constexpr char kMemoryDevice[] = "/dev/mem";

// A read-only shared mapping of the device, from the page that holds the requested address.
class DeviceMemory final : public MappedMemory {
 public:
  DeviceMemory(const std::string& device, std::uint32_t address, std::uint32_t length)
      : MappedMemory(address, length) {
    const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      message_ = "Unable to open " + device + " (" + std::strerror(errno) + ")";
      return;
    }
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t start = address / page * page;
    const auto lead = static_cast<std::size_t>(address - start);
    size_ = lead + length;
    void* base = mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(start));
    const int error = errno;
    close(fd);
    if (base == MAP_FAILED) {
      MappingRefused(std::strerror(error));
      return;
    }
    base_ = base;
    view_ = static_cast<const std::uint8_t*>(base) + lead;
  }
  ~DeviceMemory() override {
    if (base_ != nullptr) munmap(base_, size_);
  }
  DeviceMemory(const DeviceMemory&) = delete;
  DeviceMemory& operator=(const DeviceMemory&) = delete;

 private:
  void* base_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace

PhysicalMemoryPtr MapMemoryDevice(const std::string& device, std::uint32_t address,
                                  std::uint32_t length) {
  return std::make_unique<DeviceMemory>(device, address, length);
}

PhysicalMemoryPtr MapNativePhysicalMemory(std::uint32_t address, std::uint32_t length) {
  return MapMemoryDevice(kMemoryDevice, address, length);
}

}  // namespace corvane::platform
