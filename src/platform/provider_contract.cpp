#include "platform/provider_contract.h"

#include "platform/text.h"

namespace corvane::contract {

std::string_view ClassSpelling(std::string_view name) {
  const std::string key = platform::AsciiUpper(name);
  for (const std::string_view known : kClasses)
    if (platform::AsciiUpper(known) == key) return known;
  return {};
}

std::vector<std::string> ClassChain(std::string_view className) {
  std::vector<std::string> chain{platform::AsciiUpper(className)};
  const std::string base = platform::AsciiUpper(kBaseClass);
  if (chain.front() != base && chain.front() != platform::AsciiUpper(kInterfaceClass))
    chain.push_back(base);
  return chain;
}

}  // namespace corvane::contract
