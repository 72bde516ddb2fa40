// A host for unit tests: files live in memory, output is captured, the clock is fixed. It is
// also the kernel's attribute tree over the same files.
#pragma once

#include <cerrno>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/host.h"
#include "platform/kernel_tree.h"
#include "platform/profile_text.h"
#include "platform/text.h"

namespace corvane::testing {

class FakeHost : public platform::Host, public platform::KernelTree {
 public:
  FakeHost() { previous_ = platform::InstallHost(this); }
  ~FakeHost() override { platform::InstallHost(previous_); }

  std::string executablePath = "/opt/corvane/corvane";
  platform::ClockReading clock{};
  bool hasVersion = true;
  platform::FileVersion version{0x0002000C, 0x00000003};
  bool frameworkWorks = true;
  std::map<std::string, std::string> files;  // path -> bytes
  std::string out;
  std::string err;
  std::string in;  // standard input, read once
  std::map<std::string, std::string> environment;
  // Folders exist when a file lies below them, or when listed here (empty ones).
  std::set<std::string> folders;
  std::map<std::string, std::uint32_t> permissions;  // path -> rwx bits; 0644 when not given
  std::set<std::string> unreadable;                  // files that exist but cannot be read
  // WriteTreeFile: every call in order, and what answers it (by default the file, when it
  // exists, takes the bytes).
  std::vector<std::pair<std::string, std::string>> writes;
  std::function<int(const std::string& path, std::string_view bytes)> kernel;

  std::string ExecutablePath() override { return executablePath; }
  std::string ComputerName() override { return "TESTBOX"; }
  platform::ClockReading ReadClock() override { return clock; }
  bool ExecutableFileVersion(platform::FileVersion& v) override {
    v = version;
    return hasVersion;
  }
  std::string ReadProfileString(const std::string& section, const std::string& key,
                                const std::string& defaultValue, const std::string& path) override {
    auto it = files.find(path);
    if (it == files.end()) return defaultValue.substr(0, 99);
    return platform::ReadProfileStringFromText(it->second, section, key, defaultValue);
  }
  bool FileExists(const std::string& path) override { return files.count(path) != 0; }
  bool InitializeFramework(const std::string&) override { return frameworkWorks; }
  bool OsVersionAtLeast(int, int) override { return true; }
  void WriteOut(std::string_view text) override { out.append(text); }
  void FlushOut() override {}
  void WriteErr(std::string_view text) override { err.append(text); }
  bool ReadStandardInput(std::string& bytes, std::size_t limit) override {
    if (in.size() > limit) return false;
    bytes = std::exchange(in, std::string());
    return true;
  }
  bool ReadFile(const std::string& path, std::string& bytes) override {
    auto it = files.find(path);
    if (it == files.end() || unreadable.count(path)) return false;
    bytes = it->second;
    return true;
  }
  bool WriteWholeFile(const std::string& path, std::string_view bytes, bool) override {
    if (path.empty() || path.back() == '/') return false;
    files[path] = std::string(bytes);
    return true;
  }
  std::string Environment(const std::string& name) override {
    auto it = environment.find(name);
    return it == environment.end() ? std::string() : it->second;
  }
  bool ListFolder(const std::string& path, std::vector<std::string>& names) override {
    names.clear();
    if (!IsFolder(path)) return false;
    const std::string prefix = path + "/";
    std::set<std::string> found;
    auto add = [&](const std::string& entry) {
      if (entry.size() > prefix.size() && entry.compare(0, prefix.size(), prefix) == 0)
        found.insert(entry.substr(prefix.size(), entry.find('/', prefix.size()) - prefix.size()));
    };
    for (const auto& [file, bytes] : files) add(file);
    for (const auto& folder : folders) add(folder);
    names.assign(found.rbegin(), found.rend());  // callers must not rely on any order
    return true;
  }
  bool GetFileStatus(const std::string& path, platform::FileStatus& status) override {
    status.isFolder = IsFolder(path);
    if (!status.isFolder && !files.count(path)) return false;
    const auto given = permissions.find(path);
    status.permissions = given != permissions.end() ? given->second : status.isFolder ? 0755 : 0644;
    return true;
  }
  bool ReadTreeFile(const std::string& base, const std::string& relative,
                    std::string& bytes) override {
    return ReadFile(base + "/" + relative, bytes);
  }
  int WriteTreeFile(const std::string& base, const std::string& relative,
                    std::string_view bytes) override {
    const std::string path = base + "/" + relative;
    writes.emplace_back(path, std::string(bytes));
    if (kernel) return kernel(path, bytes);
    if (!files.count(path)) return ENOENT;
    files[path] = std::string(bytes);
    return 0;
  }
  bool IsFolder(const std::string& path) const {
    if (folders.count(path)) return true;
    const std::string prefix = path + "/";
    const auto below = [&](const std::string& entry) { return entry.rfind(prefix, 0) == 0; };
    for (const auto& [file, bytes] : files)
      if (below(file)) return true;
    for (const auto& folder : folders)
      if (below(folder)) return true;
    return false;
  }

  // Where the library file goes.
  std::string libraryPath = "/run/user/1000/corvane/Tarnix.dll";

  // Frees what a run left behind, so that a fuzzing run ends with as many frees as allocations
  // and libFuzzer skips its costly leak check.
  void Forget() {
    files.clear();
    out = {};
    err = {};
    writes = {};
  }

  bool WritesLibraryAtStart() override { return false; }
  std::string_view EmbeddedLibraryImage() override {
    return "\x7F"
           "ELF library";
  }
  std::string WriteLibraryFile(std::string_view image, std::vector<std::string>&) override {
    files[libraryPath] = std::string(image);
    return libraryPath;
  }

 private:
  platform::Host* previous_ = nullptr;
};

}  // namespace corvane::testing
