// A management library that serves its own system objects, for unit tests: objects are info
// records and value buffers held by the test, and every call is logged.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fake_library.h"
#include "legacy/sys_obj_table.h"

namespace corvane::testing {

class FakeFirmware {
 public:
  struct Object {
    std::vector<std::uint8_t> info = std::vector<std::uint8_t>(22, 0);
    std::vector<std::uint8_t> value;
    bool refusesWrites = false;  // answers 0 and keeps the value
    bool failsRereads = false;   // every read after the first write fails
    bool written = false;
  };

  explicit FakeFirmware(FakeLibrary& library) {
    current_ = this;
    library.Set<legacy::TarnixGetSysObjListSizeFn>("TarnixGetSysObjListSize", &ListSize);
    library.Set<legacy::TarnixGetSysObjListFn>("TarnixGetSysObjList", &List);
    library.Set<legacy::TarnixGetSysObjInfoFn>("TarnixGetSysObjInfo", &Info);
    library.Set<legacy::TarnixGetSysObjValueFn>("TarnixGetSysObjValue", &Get);
    library.Set<legacy::TarnixSetSysObjValueFn>("TarnixSetSysObjValue", &Set);
    library.Set<legacy::TarnixChangeSysObjLockStateFn>("TarnixChangeSysObjLockState", &Lock);
    library.Set<legacy::TarnixGetIsAPwdSetFn>("TarnixGetIsAPwdSet", &PasswordSet);
  }
  ~FakeFirmware() { current_ = nullptr; }
  FakeFirmware(const FakeFirmware&) = delete;
  FakeFirmware& operator=(const FakeFirmware&) = delete;

  // Adds an object of kind with flags whose info gives infoSize (the value's own size when -1).
  Object& Add(legacy::ValueKind kind, std::vector<std::uint8_t> value, std::uint16_t flags = 0,
              std::int64_t infoSize = -1) {
    Object object;
    object.value = std::move(value);
    const auto size = static_cast<std::uint32_t>(infoSize < 0 ? object.value.size() : infoSize);
    legacy::WriteU16(object.info.data(), 22, 0, static_cast<std::uint16_t>(kind));
    legacy::WriteU16(object.info.data(), 22, 2, flags);
    legacy::WriteU32(object.info.data(), 22, 4, size);
    objects.push_back(std::move(object));
    return objects.back();
  }

  std::vector<Object> objects;
  bool servesList = true;
  std::int64_t claimedCount = -1;  // the list's count field, when not the true count
  bool passwordSet = false;
  std::string password;  // the unlock password
  std::uint8_t mismatchStatus = 128;
  std::vector<std::string> calls;

 private:
  static std::uint32_t ListBytes() {
    return static_cast<std::uint32_t>(4 + 8 * current_->objects.size());
  }
  static std::int32_t ListSize(std::uint32_t* bytes) {
    if (!current_->servesList) return 0;
    *bytes = ListBytes();
    return 1;
  }
  static std::int32_t List(void* list, std::uint32_t capacity) {
    if (capacity < ListBytes()) return 0;
    auto* out = static_cast<std::uint8_t*>(list);
    const auto& objects = current_->objects;
    const auto count = current_->claimedCount < 0
                           ? static_cast<std::uint32_t>(objects.size())
                           : static_cast<std::uint32_t>(current_->claimedCount);
    legacy::WriteU32(out, capacity, 0, count);
    for (std::size_t i = 0; i < objects.size(); ++i) {
      legacy::WriteU16(out, capacity, 4 + 8 * i, static_cast<std::uint16_t>(i));
      legacy::WriteU16(out, capacity, 6 + 8 * i, legacy::ReadU16(objects[i].info.data(), 22, 0, 0));
      legacy::WriteU32(out, capacity, 8 + 8 * i, legacy::ReadU32(objects[i].info.data(), 22, 4, 0));
    }
    return 1;
  }
  static std::int32_t Info(std::uint16_t index, void* info, std::uint32_t size) {
    if (index >= current_->objects.size() || size < 22) return 0;
    std::memcpy(info, current_->objects[index].info.data(), 22);
    return 1;
  }
  static std::int32_t Get(std::uint16_t index, void* buffer, std::uint32_t size) {
    current_->calls.push_back("get " + std::to_string(index) + " " + std::to_string(size));
    if (index >= current_->objects.size()) return 0;
    const Object& object = current_->objects[index];
    if (object.written && object.failsRereads) return 0;
    std::copy_n(object.value.begin(), std::min<std::size_t>(size, object.value.size()),
                static_cast<std::uint8_t*>(buffer));
    return 1;
  }
  static std::int32_t Set(std::uint16_t index, const void* buffer, std::uint32_t size) {
    current_->calls.push_back("set " + std::to_string(index) + " " + std::to_string(size));
    if (index >= current_->objects.size()) return 0;
    Object& object = current_->objects[index];
    object.written = true;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::vector<std::uint8_t> value(bytes, bytes + size);
    value.resize(std::max(value.size(), object.value.size()));
    object.value = value;
    return 1;
  }
  static std::int32_t Lock(const char* password, std::uint32_t length, std::int32_t state,
                           std::uint8_t* status) {
    const std::string given(password, length);
    current_->calls.push_back((state == 0 ? "unlock " : "lock ") + given);
    if (state == 0 && given != current_->password) {
      *status = current_->mismatchStatus;
      return 0;
    }
    *status = 0;
    return 1;
  }
  static std::int32_t PasswordSet() { return current_->passwordSet ? 1 : 0; }
  static inline FakeFirmware* current_ = nullptr;
};

// Value buffers, little-endian.
class Bytes {
 public:
  Bytes& u16(std::uint16_t v) {
    data.push_back(static_cast<std::uint8_t>(v));
    data.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  Bytes& i32(std::int32_t v) {
    for (int i = 0; i < 4; ++i)
      data.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& text(const std::string& t, bool nul = true) {
    data.insert(data.end(), t.begin(), t.end());
    if (nul) data.push_back(0);
    return *this;
  }
  Bytes& pad(std::size_t size) {
    data.resize(size, 0);
    return *this;
  }
  operator std::vector<std::uint8_t>() const { return data; }
  std::vector<std::uint8_t> data;
};

}  // namespace corvane::testing
