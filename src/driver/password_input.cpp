#include "driver/password_input.h"

#include <algorithm>
#include <string_view>

#include "config/repset_file.h"
#include "log/result_log.h"
#include "platform/host.h"
#include "platform/text.h"
#include "wmi/password_options.h"

namespace corvane::driver {
namespace {

constexpr std::string_view kPasswordInput = "/PWDSTDIN";  // 9 characters compared
// A few password options take a few hundred bytes; an endless stream stops here.
constexpr std::size_t kMaxInputBytes = 65536;

}  // namespace

bool IsKeyPassphraseOption(std::string_view argument) {
  return platform::StartsWithNoCase(argument, kKeyPassphraseOption, kKeyPassphraseOption.size());
}

RunArguments::RunArguments(int argc, const char* const* argv) {
  for (int i = 0; i < argc; ++i) arguments_.emplace_back(argv[i] != nullptr ? argv[i] : "");
  inputLines_.assign(arguments_.size(), 0);
  for (const std::string& argument : arguments_) pointers_.push_back(argument.c_str());
}

RunArguments::~RunArguments() {
  // The passwords read do not outlive the run in memory that is handed back.
  for (std::string& argument : arguments_) std::fill(argument.begin(), argument.end(), '\0');
}

bool RunArguments::ReadPasswordInput(log::ResultLog& log) {
  const auto option = std::find_if(arguments_.begin() + (arguments_.empty() ? 0 : 1),
                                   arguments_.end(), [](const std::string& argument) {
                                     return platform::StartsWithNoCase(argument, kPasswordInput,
                                                                       kPasswordInput.size());
                                   });
  if (option == arguments_.end()) return true;
  std::string bytes;
  if (!platform::Os().ReadStandardInput(bytes, kMaxInputBytes)) {
    log.PasswordInputUnreadable();
    return false;
  }
  std::vector<std::string> lines = config::SplitLines(bytes);
  std::fill(bytes.begin(), bytes.end(), '\0');
  std::vector<std::string> options;
  std::vector<unsigned> numbers;
  bool valid = true;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    // The line itself is never repeated: it may hold a password.
    if (valid && !wmi::IsPasswordOption(lines[i]) && !IsKeyPassphraseOption(lines[i])) {
      log.PasswordInputLineRefused(i + 1);
      valid = false;
    }
    options.push_back(std::move(lines[i]));
    numbers.push_back(static_cast<unsigned>(i + 1));
  }
  if (valid) {
    const auto at = option - arguments_.begin();
    arguments_.erase(option);
    arguments_.insert(arguments_.begin() + at, options.begin(), options.end());
    inputLines_.erase(inputLines_.begin() + at);
    inputLines_.insert(inputLines_.begin() + at, numbers.begin(), numbers.end());
    pointers_.clear();
    for (const std::string& argument : arguments_) pointers_.push_back(argument.c_str());
  }
  for (std::string& line : options) std::fill(line.begin(), line.end(), '\0');
  return valid;
}

bool RunArguments::FromInput(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < inputLines_.size() &&
         inputLines_[static_cast<std::size_t>(index)] != 0;
}

std::string RunArguments::Describe(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= arguments_.size()) return {};
  const unsigned line = inputLines_[static_cast<std::size_t>(index)];
  if (line == 0) return arguments_[static_cast<std::size_t>(index)];
  return "line " + std::to_string(line) + " of standard input";
}

}  // namespace corvane::driver
