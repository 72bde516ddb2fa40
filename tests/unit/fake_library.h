// A management library for unit tests: the loader hands out a library whose entry points are
// plain functions of the test, by name. Every name resolves to a stub answering 0 unless the
// test replaces or removes it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "legacy/tarnix_entry_points.h"
#include "platform/dynamic_library.h"

namespace corvane::testing {

class FakeLibrary {
 public:
  FakeLibrary() {
    current_ = this;
    for (const auto& entry : legacy::kEntryPointNames)
      symbols[entry.name] = reinterpret_cast<platform::EntryPoint>(&Zero);
    Set<legacy::TarnixInitFn>("TarnixInit", &Init);
    Set<legacy::TarnixGetMachineIDFn>("TarnixGetMachineID", &MachineId);
    platform::InstallLibraryLoader([this](const std::string& path) -> platform::LibraryPtr {
      loadedPaths.push_back(path);
      if (!loads) return nullptr;
      return std::make_unique<Library>(*this);
    });
  }
  ~FakeLibrary() {
    platform::InstallLibraryLoader({});
    current_ = nullptr;
  }
  FakeLibrary(const FakeLibrary&) = delete;
  FakeLibrary& operator=(const FakeLibrary&) = delete;

  template <typename Fn>
  void Set(const std::string& name, Fn function) {
    symbols[name] = reinterpret_cast<platform::EntryPoint>(function);
  }
  void Remove(const std::string& name) { symbols.erase(name); }

  // The library under test, for the static entry points.
  static FakeLibrary& Current() { return *current_; }

  bool loads = true;
  std::int32_t initResult = 1;
  std::vector<std::int32_t> initArguments;  // first, second of each TarnixInit
  std::uint32_t machineId = 0;
  int openLibraries = 0;
  std::vector<std::string> loadedPaths;
  std::map<std::string, platform::EntryPoint> symbols;

 private:
  class Library final : public platform::DynamicLibrary {
   public:
    explicit Library(FakeLibrary& owner) : owner_(owner) { ++owner_.openLibraries; }
    ~Library() override { --owner_.openLibraries; }
    platform::EntryPoint Symbol(const char* name) override {
      const auto it = owner_.symbols.find(name);
      return it == owner_.symbols.end() ? nullptr : it->second;
    }

   private:
    FakeLibrary& owner_;
  };

  static std::int32_t Zero() { return 0; }
  static std::int32_t Init(std::int32_t first, std::int32_t second) {
    current_->initArguments.push_back(first);
    current_->initArguments.push_back(second);
    return current_->initResult;
  }
  static std::uint32_t MachineId() { return current_->machineId; }

  static inline FakeLibrary* current_ = nullptr;
};

}  // namespace corvane::testing
