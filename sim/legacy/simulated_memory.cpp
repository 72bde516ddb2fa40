#include "sim/legacy/simulated_memory.h"

#include <algorithm>
#include <utility>

#include "sim/machine/schema.h"
#include "sim/machine/section_values.h"

namespace corvane::sim {
namespace {

// The status a mapping of a range without memory fails with (STATUS_CONFLICTING_ADDRESSES).
constexpr const char* kNotThereStatus = "c0000018";
constexpr std::uint64_t kTop = 0x100000000ULL;

class MemoryView final : public platform::PhysicalMemoryView {
 public:
  MemoryView(std::shared_ptr<const SimulatedMemory> memory, const std::uint8_t* view,
             std::uint32_t address, std::uint32_t length, std::string message)
      : memory_(std::move(memory)),
        view_(view),
        address_(address),
        length_(length),
        message_(std::move(message)) {}
  [[nodiscard]] const std::uint8_t* view() const override { return view_; }
  [[nodiscard]] std::uint32_t address() const override { return address_; }
  [[nodiscard]] std::uint32_t length() const override { return length_; }
  [[nodiscard]] const std::string& message() const override { return message_; }

 private:
  std::shared_ptr<const SimulatedMemory> memory_;  // keeps the bytes of the view
  const std::uint8_t* view_;
  std::uint32_t address_;
  std::uint32_t length_;
  std::string message_;
};

bool Overlaps(std::uint64_t start, std::uint64_t end, std::uint64_t otherStart,
              std::uint64_t otherEnd) {
  return start < otherEnd && otherStart < end;
}

// Places a region's contents; false with a reason when an entry is not one.
bool Fill(std::uint64_t address, std::vector<std::uint8_t>& region, const Json& contents,
          const std::string& label, std::string& error) {
  if (!contents.is_array()) {
    error = label + " must be an array";
    return false;
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> placed;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    const Json& entry = contents[i];
    const std::string where = "contents[" + std::to_string(i) + "]";
    const std::string either = R"(an entry is an "address" with either "text" or "bytes")";
    std::uint64_t at = 0;
    std::string bytes;
    const schema::Key keys[] = {
        schema::Required(
            schema::When(
                schema::Word("address", kTop - 1, at),
                [&entry] { return entry.contains("text") != entry.contains("bytes"); }, either),
            either),
        {"text",
         [&bytes](const Json& value, const std::string& label, std::string& reason) {
           if (!value.is_string() ||
               value.get_ref<const std::string&>().find('\0') != std::string::npos) {
             reason = label + R"( must be a string without NUL (give such bytes as "bytes"))";
             return false;
           }
           bytes = value.get<std::string>() + '\0';
           return true;
         }},
        schema::Hex("bytes", "byte", bytes)};
    if (!schema::ReadPart(entry, where, keys, error)) return false;
    const std::uint64_t end = at + bytes.size();
    if (at < address || end > address + region.size()) {
      error = where + ": it does not lie inside its region";
      return false;
    }
    for (const auto& [start, stop] : placed)
      if (Overlaps(at, end, start, stop)) {
        error = where + ": it overlaps the entry at " + section::HexWord(start, 1);
        return false;
      }
    placed.emplace_back(at, end);
    std::copy(bytes.begin(), bytes.end(),
              region.begin() + static_cast<std::ptrdiff_t>(at - address));
  }
  return true;
}

}  // namespace

std::shared_ptr<const SimulatedMemory> SimulatedMemory::None() {
  return std::shared_ptr<const SimulatedMemory>(new SimulatedMemory());
}

std::shared_ptr<const SimulatedMemory> SimulatedMemory::Parse(const Json& memory,
                                                              std::string& error) {
  if (!memory.is_array()) {
    error = "\"memory\" must be an array of regions";
    return nullptr;
  }
  std::shared_ptr<SimulatedMemory> result(new SimulatedMemory());
  for (std::size_t i = 0; i < memory.size(); ++i) {
    if (!result->ParseRegion(memory[i], "region " + std::to_string(i), error)) return nullptr;
  }
  return result;
}

bool SimulatedMemory::ParseRegion(const Json& item, const std::string& where, std::string& error) {
  const std::string needs = R"(a region needs "address" and "length")";
  std::uint64_t address = 0;
  std::uint64_t length = 0;
  Region region;
  const schema::Key keys[] = {
      schema::Required(schema::When(
                           schema::Word("address", kTop - 1, address),
                           [&item] { return item.contains("length"); }, needs),
                       needs),
      {"length",
       [&](const Json& value, const std::string& label, std::string& reason) {
         if (!section::ParseWord(value, kMostRegionBytes, length)) {
           reason = section::WordReason(label, kMostRegionBytes);
           return false;
         }
         if (length == 0 || address + length > kTop) {
           reason = "a region holds 1 to 0x1000000 bytes and ends within 4 GiB";
           return false;
         }
         for (const Region& other : regions_)
           if (Overlaps(address, address + length, other.address,
                        other.address + static_cast<std::uint64_t>(other.bytes.size()))) {
             reason = "it overlaps region at " + section::HexWord(other.address, 1);
             return false;
           }
         region.address = static_cast<std::uint32_t>(address);
         region.bytes.assign(static_cast<std::size_t>(length), 0);
         return true;
       }},
      {"contents", [&region](const Json& contents, const std::string& label, std::string& reason) {
         return Fill(region.address, region.bytes, contents, label, reason);
       }}};
  if (!schema::ReadPart(item, where, keys, error)) return false;
  regions_.push_back(std::move(region));
  return true;
}

platform::PhysicalMemoryPtr SimulatedMemory::Map(std::uint32_t address,
                                                 std::uint32_t length) const {
  const std::uint64_t end = static_cast<std::uint64_t>(address) + length;
  for (const Region& region : regions_) {
    if (length != 0 && address >= region.address &&
        end <= region.address + static_cast<std::uint64_t>(region.bytes.size()))
      return std::make_unique<MemoryView>(shared_from_this(),
                                          region.bytes.data() + (address - region.address), address,
                                          length, "No Error");
  }
  std::string message = "Could not map view of " + section::HexWord(address, 1).substr(2) +
                        " length " + section::HexWord(length, 1).substr(2) +
                        " (status = " + kNotThereStatus + ")";
  return std::make_unique<MemoryView>(nullptr, nullptr, address, length, std::move(message));
}

void InstallMemory(const Json& document) {
  std::shared_ptr<const SimulatedMemory> memory;
  const auto legacy = document.find("legacy");
  if (legacy != document.end() && legacy->is_object()) {
    const auto found = legacy->find("memory");
    std::string error;
    if (found != legacy->end()) memory = SimulatedMemory::Parse(*found, error);
  }
  if (!memory) memory = SimulatedMemory::None();
  platform::InstallPhysicalMemoryMapper([memory](std::uint32_t address, std::uint32_t length) {
    return memory->Map(address, length);
  });
}

}  // namespace corvane::sim
