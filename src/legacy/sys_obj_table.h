// The system objects of an older machine behind one interface: the management library's own
// list when it serves one, else the program's built-in objects chosen by machine identifier.
// Also the shared record and value-buffer formats both sides use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane {
class BiosAccess;

namespace legacy {

// The 16-bit kind code of a system object.
enum class ValueKind : std::int16_t {
  Enum = 0,
  Alpha = 1,
  Binary = 2,
  Int = 3,
  Password = 4,
  StringTable = 5,
  Date = 6,
  Time = 7,
  OrderedList = 8,
  EnumExt = 9,
  ExtInt = 10,
};

// A string index that names nothing; it also ends choice and element lists.
inline constexpr std::uint16_t kNoString = 0xFFFF;
// SysObjInfo flag bit of an object that cannot be written.
inline constexpr std::uint16_t kReadOnlyFlag = 2;
inline constexpr std::uint32_t kSysObjInfoSize = 22;
inline constexpr std::uint32_t kSysObjListEntrySize = 8;
inline constexpr std::uint32_t kSysObjListHeaderSize = 4;
// Object indices are 16-bit, so no list holds more entries than this.
inline constexpr std::uint32_t kMaxSysObjListSize =
    kSysObjListHeaderSize + kSysObjListEntrySize * 0x10000;

// The largest value buffer the program asks for: the firmware's own objects are far smaller,
// and a size beyond it is taken for a fault rather than allocated.
inline constexpr std::uint32_t kMaxValueSize = 16u << 20;

// Little-endian fields of the records and value buffers. Reads past the end answer fallback,
// so that a short or unterminated buffer from the firmware is never read beyond its size.
std::uint16_t ReadU16(const std::uint8_t* data, std::size_t size, std::size_t offset,
                      std::uint16_t fallback);
std::uint32_t ReadU32(const std::uint8_t* data, std::size_t size, std::size_t offset,
                      std::uint32_t fallback);
// Writes that would not fit are left out.
void WriteU16(std::uint8_t* data, std::size_t size, std::size_t offset, std::uint16_t value);
void WriteU32(std::uint8_t* data, std::size_t size, std::size_t offset, std::uint32_t value);
// The text at offset up to its NUL or the end of the buffer, whichever comes first.
std::string ReadText(const std::uint8_t* data, std::size_t size, std::size_t offset);

// The 22-byte information record of one object.
struct SysObjInfo {
  std::array<std::uint8_t, kSysObjInfoSize> bytes{};

  [[nodiscard]] std::int16_t kind() const {
    return static_cast<std::int16_t>(ReadU16(bytes.data(), 22, 0, 0));
  }
  [[nodiscard]] std::uint16_t flags() const { return ReadU16(bytes.data(), 22, 2, 0); }
  [[nodiscard]] std::uint32_t size() const { return ReadU32(bytes.data(), 22, 4, 0); }
  [[nodiscard]] bool readOnly() const { return (flags() & kReadOnlyFlag) != 0; }
  // RootMenuID (0) to SubMenu5ID (5).
  [[nodiscard]] std::uint16_t menu(std::size_t level) const {
    return ReadU16(bytes.data(), 22, 8 + 2 * level, 0);
  }
};

// One entry of the system-object list.
struct SysObjListEntry {
  std::uint16_t index = 0;
  std::uint16_t kind = 0;
  std::uint32_t size = 0;
};

// The entries of a list buffer of size bytes: never more than the buffer holds, whatever its
// count says.
std::vector<SysObjListEntry> ParseSysObjList(const std::uint8_t* list, std::size_t size);

// What a built-in object is, as its table row gives it.
struct SysObjRow {
  const char* key;  // the object's key text
  std::uint16_t nameId;
  std::uint16_t rootMenuId = kNoString;
  std::uint16_t subMenu1Id = kNoString;
  std::uint16_t flags = 0;
};

// Base of every built-in system object.
class SysObj {
 public:
  // size is the value buffer's, for the objects whose size is fixed.
  SysObj(const SysObjRow& row, ValueKind kind, std::uint32_t size = 0)
      : row_(row), kind_(kind), size_(size) {}
  virtual ~SysObj() = default;
  SysObj(const SysObj&) = delete;
  SysObj& operator=(const SysObj&) = delete;

  // Non-zero when the setting exists on this machine; the first call runs one trial read and
  // its answer stands for the rest of the run.
  virtual std::int32_t IsPresent(BiosAccess* access);
  // Kind, flags, size and menu path; 0 for a null record or an absent object.
  virtual std::int32_t GetInfo(BiosAccess* access, std::uint8_t* info);
  virtual std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) = 0;
  // An object that is never written refuses every value.
  virtual std::int32_t SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                                const char* password, std::uint32_t passwordLength);
  [[nodiscard]] ValueKind GetKind() const { return kind_; }
  virtual std::uint32_t GetSize(BiosAccess* access);

  [[nodiscard]] const SysObjRow& row() const { return row_; }

 protected:
  // The checks every GetValue begins with; on success the whole buffer is zeroed.
  bool PrepareValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size);
  // The checks every SetValue begins with: a buffer of at least four bytes naming this object.
  bool AcceptsValue(const std::uint8_t* buffer, std::uint32_t size) const;

 private:
  SysObjRow row_;
  ValueKind kind_;
  std::uint32_t size_;

 public:
  std::int32_t present = 0;
  bool presenceKnown = false;
};

// Which built-in objects a machine identifier calls for.
enum class BuiltInSet { None, SetA, SetB };
BuiltInSet ChooseBuiltInSet(std::uint16_t machineId);
// The objects of a set, in table order, made fresh for one table.
std::vector<std::unique_ptr<SysObj>> MakeBuiltInObjects(BuiltInSet set, std::uint16_t machineId);

class SysObjTable {
 public:
  static constexpr std::size_t kCapacity = 128;

  // access is borrowed and outlives the table.
  explicit SysObjTable(BiosAccess* access) : access_(access) {}
  SysObjTable(const SysObjTable&) = delete;
  SysObjTable& operator=(const SysObjTable&) = delete;

  // Non-zero when there is a list; bytes receives its byte size.
  std::int32_t GetSysObjListSize(std::uint32_t* bytes);
  // 0 when the list does not fit capacity or list is null.
  std::int32_t GetSysObjList(void* list, std::uint32_t capacity);
  std::int32_t GetSysObjInfo(std::uint16_t index, void* info, std::uint32_t size);
  std::int32_t GetSysObjValue(std::uint16_t index, void* buffer, std::uint32_t size);
  // The library's own objects take no password.
  std::int32_t SetSysObjValue(std::uint16_t index, const void* buffer, std::uint32_t size,
                              const char* password, std::uint32_t passwordLength);

 private:
  void Build();
  [[nodiscard]] std::size_t FilledSlots() const;
  SysObj* Slot(std::uint16_t index);

  bool built_ = false;
  bool passThrough_ = false;
  std::array<std::unique_ptr<SysObj>, kCapacity> slots_;
  BiosAccess* access_;
};

}  // namespace legacy
}  // namespace corvane
