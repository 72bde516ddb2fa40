// A provider for unit tests: objects are property maps with a class chain, queries answer
// "select * from <Class>" over a list of instances, and SetBIOSSetting calls go to a handler.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/wbem.h"

namespace corvane::testing {

struct FakeObjectData {
  std::vector<std::u16string> classChain;  // own class first, then its ancestors
  std::map<std::u16string, wbem::Variant> properties;

  bool Is(std::u16string_view className) const {
    for (const auto& c : classChain)
      if (platform::EqualsNoCase(platform::ToNarrow(c), platform::ToNarrow(className))) return true;
    return false;
  }
};

class FakeObject : public wbem::ClassObject {
 public:
  explicit FakeObject(FakeObjectData data) : data_(std::move(data)) {}
  wbem::HResult Get(std::u16string_view name, wbem::Variant& value) override {
    auto it = data_.properties.find(std::u16string(name));
    if (it == data_.properties.end()) return wbem::kNotFound;
    value = it->second;
    return wbem::kOk;
  }
  wbem::HResult Put(std::u16string_view name, const wbem::Variant& value) override {
    data_.properties[std::u16string(name)] = value;
    return wbem::kOk;
  }
  wbem::HResult InheritsFrom(std::u16string_view className) override {
    return data_.Is(className) ? wbem::kOk : wbem::kFalse;
  }
  wbem::HResult GetMethod(std::u16string_view, wbem::ObjectPtr& signature) override {
    signature = std::make_unique<FakeObject>(FakeObjectData{});
    return wbem::kOk;
  }
  wbem::HResult SpawnInstance(wbem::ObjectPtr& instance) override {
    instance = std::make_unique<FakeObject>(data_);
    return wbem::kOk;
  }

 private:
  FakeObjectData data_;
};

class FakeEnum : public wbem::EnumClassObject {
 public:
  explicit FakeEnum(std::vector<FakeObjectData> items) : items_(std::move(items)) {}
  wbem::HResult Next(std::int32_t, wbem::ObjectPtr& object) override {
    if (next_ >= items_.size()) return wbem::kFalse;
    object = std::make_unique<FakeObject>(items_[next_++]);
    return wbem::kOk;
  }

 private:
  std::vector<FakeObjectData> items_;
  std::size_t next_ = 0;
};

// The state behind the fake provider; tests change it between calls.
struct FakeProvider {
  bool connects = true;
  std::vector<FakeObjectData> instances;  // every instance of every class
  // SetBIOSSetting(name, value, password) -> Return; the default accepts everything.
  std::function<std::int32_t(const std::string&, const std::string&, const std::string&)>
      setBiosSetting = [](const std::string&, const std::string&, const std::string&) { return 0; };
  std::vector<std::string> calls;         // "name|value|password" of every SetBIOSSetting call
  std::vector<std::string> failingCalls;  // setting names whose method call itself fails
  int connections = 0;

  std::vector<FakeObjectData> InstancesOf(std::u16string_view className) const {
    std::vector<FakeObjectData> result;
    for (const auto& item : instances)
      if (item.Is(className)) result.push_back(item);
    return result;
  }
};

class FakeServices : public wbem::Services {
 public:
  explicit FakeServices(FakeProvider& provider) : provider_(provider) {}
  wbem::HResult SetProxyBlanket() override { return wbem::kOk; }
  wbem::HResult ExecQuery(std::u16string_view, std::u16string_view query, std::int32_t,
                          wbem::EnumPtr& result) override {
    const std::u16string prefix = u"select * from ";
    if (query.substr(0, prefix.size()) != prefix) return wbem::kInvalidQuery;
    result = std::make_unique<FakeEnum>(provider_.InstancesOf(query.substr(prefix.size())));
    return wbem::kOk;
  }
  wbem::HResult GetObjectByPath(std::u16string_view path, std::int32_t,
                                wbem::ObjectPtr& object) override {
    object = std::make_unique<FakeObject>(FakeObjectData{{std::u16string(path)}, {}});
    return wbem::kOk;
  }
  wbem::HResult CreateInstanceEnum(std::u16string_view className, std::int32_t,
                                   wbem::EnumPtr& result) override {
    result = std::make_unique<FakeEnum>(provider_.InstancesOf(className));
    return wbem::kOk;
  }
  wbem::HResult ExecMethod(std::u16string_view, std::u16string_view, std::int32_t,
                           wbem::ClassObject* in, wbem::ObjectPtr& out) override {
    auto text = [in](const char16_t* name) {
      wbem::Variant v;
      if (in == nullptr || in->Get(name, v) != wbem::kOk) return std::string();
      return platform::ToNarrow(v.string);
    };
    const std::string name = text(u"Name"), value = text(u"Value"), pwd = text(u"Password");
    provider_.calls.push_back(name + "|" + value + "|" + pwd);
    for (const auto& failing : provider_.failingCalls)
      if (failing == name) return wbem::kFailed;
    FakeObjectData result;
    result.properties[u"Return"] = wbem::Variant::Int32(provider_.setBiosSetting(name, value, pwd));
    out = std::make_unique<FakeObject>(std::move(result));
    return wbem::kOk;
  }

 private:
  FakeProvider& provider_;
};

class FakeLocator : public wbem::Locator {
 public:
  explicit FakeLocator(FakeProvider& provider) : provider_(provider) {}
  wbem::HResult ConnectServer(std::u16string_view, std::int32_t,
                              wbem::ServicesPtr& services) override {
    ++provider_.connections;
    if (!provider_.connects) return wbem::kInvalidNamespace;
    services = std::make_unique<FakeServices>(provider_);
    return wbem::kOk;
  }

 private:
  FakeProvider& provider_;
};

// Installs a fake provider for the lifetime of the object.
class ScopedFakeProvider {
 public:
  ScopedFakeProvider() {
    wbem::InstallLocatorFactory([this](std::unique_ptr<wbem::Locator>& locator) {
      locator = std::make_unique<FakeLocator>(provider);
      return wbem::kOk;
    });
  }
  ~ScopedFakeProvider() { wbem::InstallLocatorFactory({}); }
  FakeProvider provider;
};

// A setting instance of a provider class (which derives from Lumo_BIOSSetting).
inline FakeObjectData Setting(std::u16string className,
                              std::map<std::u16string, wbem::Variant> properties) {
  return FakeObjectData{{std::move(className), u"Lumo_BIOSSetting"}, std::move(properties)};
}
inline constexpr auto Str = &wbem::Variant::String;
inline constexpr auto Int = &wbem::Variant::Int32;
inline constexpr auto Strs = &wbem::Variant::StringArray;

}  // namespace corvane::testing
