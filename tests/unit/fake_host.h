// A host for unit tests: files live in memory, output is captured, the clock is fixed.
#pragma once

#include <map>
#include <string>

#include "platform/host.h"
#include "platform/profile_text.h"
#include "platform/text.h"

namespace corvane::testing {

class FakeHost : public platform::Host {
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
  bool ReadFile(const std::string& path, std::string& bytes) override {
    auto it = files.find(path);
    if (it == files.end()) return false;
    bytes = it->second;
    return true;
  }
  bool WriteWholeFile(const std::string& path, std::string_view bytes, bool) override {
    if (path.empty() || path.back() == '/') return false;
    files[path] = std::string(bytes);
    return true;
  }
  std::string Environment(const std::string&) override { return {}; }

 private:
  platform::Host* previous_ = nullptr;
};

}  // namespace corvane::testing
