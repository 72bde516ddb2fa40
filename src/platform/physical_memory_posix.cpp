#include "platform/physical_memory.h"

namespace corvane::platform {
namespace {

// Nothing is mapped until the native window is built: every read finds no text.
class NoMemory final : public PhysicalMemoryView {
 public:
  NoMemory(std::uint32_t address, std::uint32_t length) : address_(address), length_(length) {}
  [[nodiscard]] const std::uint8_t* view() const override { return nullptr; }
  [[nodiscard]] std::uint32_t address() const override { return address_; }
  [[nodiscard]] std::uint32_t length() const override { return length_; }
  [[nodiscard]] const std::string& message() const override { return message_; }

 private:
  std::uint32_t address_;
  std::uint32_t length_;
  std::string message_ = "No Error";
};

}  // namespace

PhysicalMemoryPtr MapNativePhysicalMemory(std::uint32_t address, std::uint32_t length) {
  return std::make_unique<NoMemory>(address, length);
}

}  // namespace corvane::platform
