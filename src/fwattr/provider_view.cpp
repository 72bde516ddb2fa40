// The settings as one run knows them: every attribute read once, when a query first asks, and
// afterwards only what the run wrote read again (with what a Dell rule ties to it), so that each
// value costs the firmware one call however often the program asks about it.
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fwattr/provider.h"
#include "platform/host.h"
#include "platform/text.h"

namespace corvane::fwattr {
namespace {

std::string KeyOf(std::string_view name) {
  return platform::AsciiUpper(platform::Trim(name));
}

// The served setting made of what a source read: a change the firmware never kept reads with
// the value it kept.
Served MakeServed(const Provider& provider, RawAttribute raw, std::size_t source) {
  Served served;
  served.attribute = ParseAttribute(raw);
  served.raw = std::move(raw);
  served.source = source;
  if (const auto kept = provider.unsaved.find(platform::AsciiUpper(served.attribute.name));
      kept != provider.unsaved.end())
    served.attribute.value = kept->second;
  return served;
}

// The Dell rules of one source's settings, read against their values in the view.
void ApplySourceRules(std::vector<Served>& view, std::size_t source) {
  std::unordered_map<std::string, const std::string*> values;
  for (const auto& served : view)
    if (served.source == source) values.emplace(served.attribute.name, &served.attribute.value);
  const ValueLookup valueOf = [&](const std::string& name) -> const std::string* {
    const auto found = values.find(name);
    return found == values.end() ? nullptr : found->second;
  };
  for (auto& served : view)
    if (served.source == source) ApplyRules(served.attribute, valueOf);
}

// Whether a Dell rule of raw names the attribute: [Word:name=value].
bool RuleNames(const RawAttribute& raw, const std::string& name) {
  const std::string needle = ":" + name + "=";
  return raw.modifier.find(needle) != std::string::npos ||
         raw.valueModifier.find(needle) != std::string::npos;
}

std::vector<Served>& Build(Provider& provider) {
  if (provider.view) return *provider.view;
  std::vector<Served> view;
  std::unordered_map<std::string, std::size_t> firstSource;  // key -> source
  for (std::size_t i = 0; i < provider.sources.size(); ++i) {
    for (auto& raw : provider.sources[i]->ReadAll()) {
      const std::string key = KeyOf(raw.name);
      if (const auto first = firstSource.emplace(key, i); !first.second) {
        if (provider.reportedTwice.insert(key).second) {
          const std::string kept = provider.sources[first.first->second]->Label();
          std::string note = "corvane: the setting '" + raw.name + "' comes from both ";
          note.append(kept).append(" and ").append(provider.sources[i]->Label());
          note.append("; ").append(kept).append("'s is used.\n");
          platform::Os().WriteErr(note);
        }
        continue;
      }
      view.push_back(MakeServed(provider, std::move(raw), i));
    }
    ApplySourceRules(view, i);
  }
  provider.view = std::move(view);
  return *provider.view;
}

}  // namespace

const std::vector<Served>& View(Provider& provider) {
  return Build(provider);
}

const std::vector<Served>& ServedSettings(Provider& provider) {
  FinishWrites(provider);
  return Build(provider);
}

Served* FindServed(Provider& provider, std::string_view name) {
  const std::string key = KeyOf(name);
  for (auto& served : Build(provider))
    if (KeyOf(served.attribute.name) == key) {
      Complete(provider, served);
      return &served;
    }
  return nullptr;
}

void Complete(Provider& provider, Served& served) {
  if (!served.raw.choicesLater) return;
  RawAttribute raw = std::move(served.raw);
  provider.sources[served.source]->AskChoices(raw);
  raw.choicesLater = false;
  served = MakeServed(provider, std::move(raw), served.source);
  ApplySourceRules(*provider.view, served.source);
}

std::vector<Attribute> ReadAllWithRules(AttributeSource& source) {
  std::vector<Served> view;
  for (auto& raw : source.ReadAll()) {
    Served served;
    served.attribute = ParseAttribute(raw);
    served.raw = std::move(raw);
    view.push_back(std::move(served));
  }
  ApplySourceRules(view, 0);
  std::vector<Attribute> all;
  all.reserve(view.size());
  for (auto& served : view) all.push_back(std::move(served.attribute));
  return all;
}

void Refresh(Provider& provider, const std::vector<Provider::Written>& written) {
  if (!provider.view || written.empty()) return;
  std::vector<Served>& view = *provider.view;
  // What was written, and what a rule ties to it, each read once.
  std::set<std::pair<std::size_t, std::string>> reread;
  for (const auto& change : written) {
    reread.emplace(change.source, change.name);
    for (const auto& served : view)
      if (served.source == change.source && RuleNames(served.raw, change.name))
        reread.emplace(served.source, served.attribute.name);
  }
  std::set<std::size_t> sources;
  for (const auto& [source, name] : reread) {
    RawAttribute raw;
    if (!provider.sources[source]->Read(name, raw)) continue;
    for (auto& served : view)
      if (served.source == source && served.attribute.name == name) {
        served = MakeServed(provider, std::move(raw), source);
        break;
      }
    sources.insert(source);
  }
  for (const std::size_t source : sources) ApplySourceRules(view, source);
}

}  // namespace corvane::fwattr
