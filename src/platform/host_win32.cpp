// The native host on 32-bit Windows, through the narrow (ANSI) system calls.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/kernel_tree.h"
#include "platform/profile_text.h"
#include "platform/stdio_host.h"

namespace corvane::platform {
namespace {

constexpr DWORD kModulePathBuffer = 1024;
constexpr DWORD kComputerNameBuffer = 16;  // 15 characters and the terminator
constexpr DWORD kProfileValueBuffer = 100;
constexpr DWORD kFolderBuffer = MAX_PATH;  // 260 characters
// The library's resource: type "BINARY", id 129.
constexpr WORD kLibraryResource = 129;
constexpr char kLibraryFileName[] = "Tarnix.dll";
// SHGetFolderPathA: the current user's application-data folder, created when missing.
constexpr int kApplicationDataCreate = 0x1A | 0x8000;
using ShGetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);

// The directory part of a path including its separator, or what names the current directory
// of the drive ("C:" for "C:file", "." for a bare name).
std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator != std::string::npos) return path.substr(0, separator + 1);
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return ".";
}

std::string WithCrLf(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 16);
  for (const char c : bytes) {
    if (c == '\n') text.push_back('\r');
    text.push_back(c);
  }
  return text;
}

bool WriteAllTo(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool ReadAllFrom(HANDLE handle, std::string& bytes) {
  char buffer[65536];
  for (;;) {
    DWORD count = 0;
    if (!::ReadFile(handle, buffer, sizeof buffer, &count, nullptr)) return false;
    if (count == 0) return true;
    bytes.append(buffer, count);
  }
}

// Reads to the end, or until more than limit bytes are read.
bool ReadUpTo(HANDLE handle, std::size_t limit, std::string& bytes) {
  char buffer[65536];
  while (bytes.size() <= limit) {
    DWORD count = 0;
    if (!::ReadFile(handle, buffer, sizeof buffer, &count, nullptr)) return false;
    if (count == 0) return true;
    bytes.append(buffer, count);
  }
  return true;
}

// A DLL of Windows itself, loaded by its full path in the system folder, never searched for.
HMODULE LoadSystemLibrary(const char* name) {
  char folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return LoadLibraryA((std::string(folder, length) + "\\" + name).c_str());
}

bool MoveTo(HANDLE handle, std::size_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) != FALSE;
}

// The file a symbolic link names, so that the link stays a link. The lookup exists from
// Windows Vista on, where such links appeared; it is found at run time.
std::string FinalPathOf(HANDLE handle, const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return path;
  using Lookup = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  const FARPROC found =
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
  if (found == nullptr) return path;
  const auto lookup = reinterpret_cast<Lookup>(reinterpret_cast<void*>(found));
  char buffer[MAX_PATH + 8] = {};
  const DWORD length = lookup(handle, buffer, sizeof buffer, 0);  // normalised, DOS volume
  if (length == 0 || length >= sizeof buffer) return {};
  std::string text(buffer, length);
  if (text.rfind("\\\\?\\UNC\\", 0) == 0) return text.replace(0, 8, "\\\\");
  if (text.rfind("\\\\?\\", 0) == 0) return text.substr(4);
  return text;
}

// Fills a temporary file made by GetTempFileNameA and flushes it to the disk.
bool FillTemporary(const char* temporary, std::string_view bytes) {
  const HANDLE handle = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ok = WriteAllTo(handle, bytes) && FlushFileBuffers(handle);
  return CloseHandle(handle) && ok;
}

// The full form of a path, or the path itself when it has none.
std::string FullPathOf(const char* path) {
  char buffer[MAX_PATH + 8] = {};
  const DWORD length = GetFullPathNameA(path, sizeof buffer, buffer, nullptr);
  if (length == 0 || length >= sizeof buffer) return path;
  return std::string(buffer, length);
}

// A new file, or the replacement of a regular one: a temporary file beside the target, on
// the same volume, is filled and then moved in. ReplaceFileA gives it the attributes and
// access rights of the file it replaces; it is given full paths, as Wine's refuses others.
bool WriteThroughTemporary(const std::string& target, std::string_view bytes, bool replace) {
  char temporary[MAX_PATH] = {};
  if (GetTempFileNameA(DirectoryOf(target).c_str(), "cvn", 0, temporary) == 0) return false;
  bool ok = FillTemporary(temporary, bytes);
  if (ok && replace)
    ok = ReplaceFileA(FullPathOf(target.c_str()).c_str(), FullPathOf(temporary).c_str(), nullptr,
                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE;
  else if (ok)
    ok = MoveFileExA(temporary, target.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
  if (!ok) DeleteFileA(temporary);
  return ok;
}

// A file with other hard links keeps its identity: it is rewritten in place, with room made
// first and its earlier content put back if writing fails.
bool RewriteInPlace(const std::string& target, std::string_view bytes) {
  const HANDLE handle = CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::string earlier;
  bool ok = ReadAllFrom(handle, earlier);
  if (ok && bytes.size() > earlier.size()) {
    ok = MoveTo(handle, bytes.size()) && SetEndOfFile(handle);
    if (!ok && MoveTo(handle, earlier.size())) SetEndOfFile(handle);
  }
  if (ok) {
    ok = MoveTo(handle, 0) && WriteAllTo(handle, bytes) && SetEndOfFile(handle) &&
         FlushFileBuffers(handle);
    if (!ok && MoveTo(handle, 0) && WriteAllTo(handle, earlier) && SetEndOfFile(handle))
      FlushFileBuffers(handle);
  }
  return CloseHandle(handle) && ok;
}

class Win32Host final : public StdioHost {
 public:
  Win32Host() = default;
  ~Win32Host() override {
    if (libraryFile_ != INVALID_HANDLE_VALUE) CloseHandle(libraryFile_);
  }
  Win32Host(const Win32Host&) = delete;
  Win32Host& operator=(const Win32Host&) = delete;

  std::string ExecutablePath() override {
    char buffer[kModulePathBuffer] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, kModulePathBuffer);
    if (length == 0 || length >= kModulePathBuffer) return {};  // failed or cut short
    return std::string(buffer, length);
  }

  std::string ComputerName() override {
    char buffer[kComputerNameBuffer] = {};
    DWORD size = kComputerNameBuffer;
    if (!GetComputerNameA(buffer, &size) || size >= kComputerNameBuffer) return {};
    return std::string(buffer, size);
  }

  // localtime and gmtime share one buffer in the C runtime: copy each result at once.
  ClockReading ReadClock() override {
    ClockReading reading;
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now)) reading.local = *local;
    if (const std::tm* utc = std::gmtime(&now)) reading.utc = *utc;
    return reading;
  }

  // version.dll is not among the DLLs Windows always takes from its system folder: imported, it
  // would be searched for beside the executable before the process could restrict the search.
  // It is loaded from the system folder instead.
  bool ExecutableFileVersion(FileVersion& version) override {
    const std::string path = ExecutablePath();
    const HMODULE library = LoadSystemLibrary("version.dll");
    if (path.empty() || library == nullptr) return false;
    const auto infoSize = reinterpret_cast<decltype(&GetFileVersionInfoSizeA)>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetFileVersionInfoSizeA")));
    const auto readInfo = reinterpret_cast<decltype(&GetFileVersionInfoA)>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetFileVersionInfoA")));
    const auto query = reinterpret_cast<decltype(&VerQueryValueA)>(
        reinterpret_cast<void*>(GetProcAddress(library, "VerQueryValueA")));
    if (infoSize == nullptr || readInfo == nullptr || query == nullptr) return false;
    DWORD handle = 0;
    const DWORD size = infoSize(path.c_str(), &handle);
    if (size == 0) return false;
    std::vector<char> data(size);
    if (!readInfo(path.c_str(), 0, size, data.data())) return false;
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!query(data.data(), "\\", &fixed, &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
      return false;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    version.mostSignificant = info->dwFileVersionMS;
    version.leastSignificant = info->dwFileVersionLS;
    return true;
  }

  std::string ReadProfileString(const std::string& section, const std::string& key,
                                const std::string& defaultValue, const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA file = {};
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &file) &&
        (file.nFileSizeHigh != 0 || file.nFileSizeLow > kMaxProfileFileBytes))
      return defaultValue.substr(0, kProfileValueBuffer - 1);
    char buffer[kProfileValueBuffer] = {};
    const DWORD length =
        GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                                 kProfileValueBuffer, path.c_str());
    return std::string(buffer, length < kProfileValueBuffer ? length : kProfileValueBuffer - 1);
  }

  bool FileExists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // This build has no application framework to prepare. The process runs with administrator
  // rights, so libraries loaded by name come from the system folder alone, never from the
  // program's folder, the current directory or PATH, where others may plant one. The call that
  // says so exists from Windows 8 (Windows 7 with an update) and is looked up at run time; without
  // it, at least the current directory leaves the search.
  bool InitializeFramework(const std::string& /*rawCommandLine*/) override {
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const FARPROC found =
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (found == nullptr || !reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(found))(
                                LOAD_LIBRARY_SEARCH_SYSTEM32))
      SetDllDirectoryA("");
    return true;
  }

  bool OsVersionAtLeast(int major, int minor) override {
    OSVERSIONINFOEXA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = static_cast<DWORD>(major);
    info.dwMinorVersion = static_cast<DWORD>(minor);
    ULONGLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoA(&info, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
  }

  bool WriteWholeFile(const std::string& path, std::string_view bytes, bool textMode) override {
    if (path.empty() || path.back() == '\\' || path.back() == '/') return false;
    const std::string content = textMode ? WithCrLf(bytes) : std::string(bytes);
    // Opening what exists tells a disk file from a device (NUL, CON, COM1) or a pipe.
    const HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;  // a folder, a missing folder, a refused file
      return WriteThroughTemporary(path, content, /*replace=*/false);
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
      // Written as it is, once; the result log goes first in case both reach one console.
      FlushOut();
      const bool written = WriteAllTo(handle, content);
      return CloseHandle(handle) && written;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    const bool linked =
        GetFileInformationByHandle(handle, &information) && information.nNumberOfLinks > 1;
    const std::string target = FinalPathOf(handle, path);
    CloseHandle(handle);
    if (target.empty()) return false;
    if (linked) return RewriteInPlace(target, content);
    return WriteThroughTemporary(target, content, /*replace=*/true);
  }

  std::string Environment(const std::string& name) override {
    const DWORD needed = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (needed == 0) return {};
    std::vector<char> buffer(needed);
    const DWORD length = GetEnvironmentVariableA(name.c_str(), buffer.data(), needed);
    if (length == 0 || length >= needed) return {};
    return std::string(buffer.data(), length);
  }

  bool WritesLibraryAtStart() override { return true; }

  std::string_view EmbeddedLibraryImage() override {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(kLibraryResource), "BINARY");
    if (resource == nullptr) return {};
    HGLOBAL loaded = LoadResource(nullptr, resource);
    if (loaded == nullptr) return {};
    const void* image = LockResource(loaded);
    const DWORD size = SizeofResource(nullptr, resource);
    if (image == nullptr || size == 0) return {};
    return std::string_view(static_cast<const char*>(image), size);
  }

  // Delete, check, create new, one write, delete on a failed write. A file that cannot be
  // deleted (another running instance holds it loaded) is kept, but loaded only when it holds
  // the very image carried here: anything of the same user could have planted it.
  std::string WriteLibraryFile(std::string_view image, std::vector<std::string>& notes) override {
    const std::string folder = LibraryFolder();
    if (folder.empty()) {
      notes.emplace_back("no folder for the management library: the current directory is unknown");
      return {};
    }
    const std::string path = folder + kLibraryFileName;
    DeleteFileA(path.c_str());
    if (!FileExists(path)) {
      if (image.empty()) {
        notes.emplace_back("this executable carries no management library");
        return {};
      }
      DeleteFileA(path.c_str());
      if (!WriteNewFile(path, image)) {
        notes.push_back("the management library could not be written to '" + path + "'");
        return {};
      }
    }
    if (!HoldLibrary(path, image)) {
      notes.push_back("'" + path +
                      "' cannot be replaced and is not the management library this program "
                      "carries: it is not loaded");
      return {};
    }
    return path;
  }

 private:
  // The library file, held open for reading and shared for reading only, so that nobody can
  // change, rename or delete it between the check and the load.
  HANDLE libraryFile_ = INVALID_HANDLE_VALUE;

  // The temporary folder, used as the system gives it (with its backslash). One whose text
  // still holds an unexpanded variable, or that cannot be read at all, gives way to the
  // application-data folder and then to the current directory.
  std::string LibraryFolder() {
    char buffer[kFolderBuffer] = {};
    const DWORD length = GetTempPathA(kFolderBuffer, buffer);
    if (length != 0 && length < kFolderBuffer) {
      const std::string folder(buffer, length);
      if (folder.find('%') == std::string::npos) return folder;
    }
    std::string chosen;
    // Loaded at run time from the system folder, never searched for, and never unloaded.
    if (HMODULE shfolder = LoadSystemLibrary("shfolder.dll")) {
      const auto getFolderPath = reinterpret_cast<ShGetFolderPathFn>(
          reinterpret_cast<void (*)()>(GetProcAddress(shfolder, "SHGetFolderPathA")));
      char appData[kFolderBuffer] = {};
      if (getFolderPath != nullptr &&
          getFolderPath(nullptr, kApplicationDataCreate, nullptr, 0, appData) >= 0)
        chosen = appData;
    }
    if (chosen.empty()) {
      char current[kFolderBuffer] = {};
      const DWORD size = GetCurrentDirectoryA(kFolderBuffer, current);
      if (size == 0 || size >= kFolderBuffer) return {};
      chosen.assign(current, size);
    }
    if (chosen.back() != '\\') chosen.push_back('\\');
    return chosen;
  }

  // Creates path as a new file (never over anything there), unshared, and writes bytes in one
  // write; a file whose write failed is deleted.
  static bool WriteNewFile(const std::string& path, std::string_view bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr) != FALSE &&
                    written == bytes.size();
    if (CloseHandle(file) != FALSE && ok) return true;
    DeleteFileA(path.c_str());
    return false;
  }

  // Opens the file at path for reading, shared for reading only, and keeps it open when it holds
  // exactly image; false otherwise.
  bool HoldLibrary(const std::string& path, std::string_view image) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string content;
    if (image.empty() || !ReadUpTo(file, image.size(), content) || content != image) {
      CloseHandle(file);
      return false;
    }
    if (libraryFile_ != INVALID_HANDLE_VALUE) CloseHandle(libraryFile_);
    libraryFile_ = file;
    return true;
  }
};

// Windows has no kernel attribute tree: its BIOS settings are reached through WMI alone.
class Win32KernelTree final : public KernelTree {
 public:
  bool ListFolder(const std::string& /*path*/, std::vector<std::string>& names) override {
    names.clear();
    return false;
  }
  bool GetFileStatus(const std::string& /*path*/, FileStatus& /*status*/) override { return false; }
  bool ReadTreeFile(const std::string& /*base*/, const std::string& /*relative*/,
                    std::string& /*bytes*/) override {
    return false;
  }
  int WriteTreeFile(const std::string& /*base*/, const std::string& /*relative*/,
                    std::string_view /*bytes*/) override {
    return ENOENT;
  }
};

}  // namespace

std::unique_ptr<Host> CreateNativeHost() {
  return std::make_unique<Win32Host>();
}

std::unique_ptr<KernelTree> CreateNativeKernelTree() {
  return std::make_unique<Win32KernelTree>();
}

}  // namespace corvane::platform
