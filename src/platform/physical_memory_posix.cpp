#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/physical_memory.h"

namespace corvane::platform {
namespace {

constexpr char kMemoryDevice[] = "/dev/mem";

// A read-only shared mapping of the device, from the page that holds the requested address.
class DeviceMemory final : public PhysicalMemoryView {
 public:
  DeviceMemory(const std::string& device, std::uint32_t address, std::uint32_t length)
      : address_(address), length_(length) {
    const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      message_ = "Unable to open " + device + " (" + std::strerror(errno) + ")";
      return;
    }
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t start = address / page * page;
    lead_ = static_cast<std::size_t>(address - start);
    size_ = lead_ + length;
    void* base = mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(start));
    const int error = errno;
    close(fd);
    if (base == MAP_FAILED) {
      char text[260];
      // A message cut short still says why.
      static_cast<void>(std::snprintf(text, sizeof text, "Could not map view of %X length %X (%s)",
                                      address, length, std::strerror(error)));
      message_ = text;
      return;
    }
    base_ = static_cast<std::uint8_t*>(base);
  }
  ~DeviceMemory() override {
    if (base_ != nullptr) munmap(base_, size_);
  }
  DeviceMemory(const DeviceMemory&) = delete;
  DeviceMemory& operator=(const DeviceMemory&) = delete;

  [[nodiscard]] const std::uint8_t* view() const override {
    return base_ == nullptr ? nullptr : base_ + lead_;
  }
  [[nodiscard]] std::uint32_t address() const override { return address_; }
  [[nodiscard]] std::uint32_t length() const override { return length_; }
  [[nodiscard]] const std::string& message() const override { return message_; }

 private:
  std::uint32_t address_;
  std::uint32_t length_;
  std::uint8_t* base_ = nullptr;
  std::size_t lead_ = 0;
  std::size_t size_ = 0;
  std::string message_ = "No Error";
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
