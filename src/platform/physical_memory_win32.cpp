#include <windows.h>

#include <cstdio>

#include "platform/physical_memory.h"

namespace corvane::platform {
namespace {

// The native types the section calls take, declared here so that no driver-kit header is
// needed.
struct CountedName {
  USHORT length;
  USHORT maximumLength;
  PWSTR buffer;
};
struct ObjectAttributes {
  ULONG length;
  HANDLE rootDirectory;
  CountedName* objectName;
  ULONG attributes;
  PVOID securityDescriptor;
  PVOID securityQualityOfService;
};

using RtlInitUnicodeStringFn = VOID(NTAPI*)(CountedName*, PCWSTR);
using NtUnmapViewOfSectionFn = LONG(NTAPI*)(HANDLE, PVOID);
using NtOpenSectionFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, ObjectAttributes*);
using NtMapViewOfSectionFn = LONG(NTAPI*)(HANDLE, HANDLE, PVOID*, ULONG_PTR, SIZE_T, LARGE_INTEGER*,
                                          SIZE_T*, DWORD, ULONG, ULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);

constexpr ULONG kCaseInsensitive = 0x40;
constexpr ACCESS_MASK kSectionMapRead = 4;
constexpr DWORD kViewShare = 1;
constexpr ULONG kReadOnly = 2;
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

// Looked up once they are all found; a failed lookup is tried again by the next window.
struct NativeEntryPoints {
  bool resolved = false;
  RtlInitUnicodeStringFn initUnicodeString = nullptr;
  NtUnmapViewOfSectionFn unmapViewOfSection = nullptr;
  NtOpenSectionFn openSection = nullptr;
  NtMapViewOfSectionFn mapViewOfSection = nullptr;
  RtlNtStatusToDosErrorFn statusToDosError = nullptr;  // looked up, never called
};

NativeEntryPoints& Native() {
  static NativeEntryPoints native;
  return native;
}

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  // Through the generic function type, which any function pointer converts to and from.
  return module == nullptr
             ? nullptr
             : reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

bool ResolveNative() {
  NativeEntryPoints& native = Native();
  if (native.resolved) return true;
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  native.initUnicodeString = Lookup<RtlInitUnicodeStringFn>(ntdll, "RtlInitUnicodeString");
  native.unmapViewOfSection = Lookup<NtUnmapViewOfSectionFn>(ntdll, "NtUnmapViewOfSection");
  native.openSection = Lookup<NtOpenSectionFn>(ntdll, "NtOpenSection");
  native.mapViewOfSection = Lookup<NtMapViewOfSectionFn>(ntdll, "NtMapViewOfSection");
  native.statusToDosError = Lookup<RtlNtStatusToDosErrorFn>(ntdll, "RtlNtStatusToDosError");
  native.resolved = native.initUnicodeString != nullptr && native.unmapViewOfSection != nullptr &&
                    native.openSection != nullptr && native.mapViewOfSection != nullptr &&
                    native.statusToDosError != nullptr;
  return native.resolved;
}

bool IsNtFamily() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) != 0 && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::string StatusText(const char* format, LONG status) {
  char text[260];
  std::snprintf(text, sizeof text, format, static_cast<unsigned long>(status));
  return text;
}

// The physical-memory section of the NT family; on older systems low physical memory is
// addressable at its own address.
class SectionMemory final : public MappedMemory {
 public:
  SectionMemory(std::uint32_t address, std::uint32_t length) : MappedMemory(address, length) {
    isNt_ = IsNtFamily();
    if (!isNt_) {
      view_ = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(address));
      return;
    }
    if (!ResolveNative()) {
      message_ = "Entry points not found in NTDLL.DLL";
      return;
    }
    const NativeEntryPoints& native = Native();
    wchar_t name[] = L"\\device\\physicalmemory";
    CountedName objectName{};
    native.initUnicodeString(&objectName, name);
    ObjectAttributes attributes{};
    attributes.length = sizeof attributes;
    attributes.objectName = &objectName;
    attributes.attributes = kCaseInsensitive;
    HANDLE section = nullptr;
    LONG status = native.openSection(&section, kSectionMapRead, &attributes);
    if (status < 0) {
      message_ = StatusText("Unable to open \\device\\physicalmemory (status = %lx)", status);
      return;
    }
    section_ = section;

    PVOID base = nullptr;
    LARGE_INTEGER offset{};
    offset.QuadPart = address;
    SIZE_T size = length;
    status = native.mapViewOfSection(section_, kCurrentProcess, &base, 0, length, &offset, &size,
                                     kViewShare, 0, kReadOnly);
    if (status < 0) {
      MappingRefused(StatusText("status = %lx", status));
      return;
    }
    view_ = static_cast<const std::uint8_t*>(base);
    address_ = static_cast<std::uint32_t>(offset.QuadPart);
    length_ = static_cast<std::uint32_t>(size);
  }
  ~SectionMemory() override {
    if (!isNt_) return;
    if (view_ != nullptr) {
      const LONG status =
          Native().unmapViewOfSection(kCurrentProcess, const_cast<std::uint8_t*>(view_));
      if (status < 0) message_ = StatusText("Unable to unmap view (status = %lx)", status);
    }
    if (section_ != nullptr) CloseHandle(section_);
  }
  SectionMemory(const SectionMemory&) = delete;
  SectionMemory& operator=(const SectionMemory&) = delete;

 private:
  bool isNt_ = false;
  HANDLE section_ = nullptr;
};

}  // namespace

PhysicalMemoryPtr MapNativePhysicalMemory(std::uint32_t address, std::uint32_t length) {
  return std::make_unique<SectionMemory>(address, length);
}

}  // namespace corvane::platform
