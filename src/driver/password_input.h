// Password options taken from standard input (/pwdstdin), so that no password need ever stand
// on a command line, where process listings, audit logs and other users see it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::log {
class ResultLog;
}

namespace corvane::driver {

// The passphrase of an encrypted signing key, taken from standard input only.
inline constexpr std::string_view kKeyPassphraseOption = "/KeyPassphrase:";
bool IsKeyPassphraseOption(std::string_view argument);

// The arguments of a run, with the password options read from standard input standing, in
// their order, where /pwdstdin stood. Every later walk over the arguments sees them as if they
// had been given there; nothing else reads them.
class RunArguments {
 public:
  RunArguments(int argc, const char* const* argv);
  ~RunArguments();
  RunArguments(const RunArguments&) = delete;
  RunArguments& operator=(const RunArguments&) = delete;

  // Reads standard input when the first /pwdstdin asks for it: one password option a line
  // (/cspwd:, /nspwd:, their long spellings, or /KeyPassphrase:), a carriage return before a line
  // feed dropped, empty lines passed over. False, after its own record, when standard input cannot
  // be read or holds a line that is not a password option: the run then ends with code 15.
  bool ReadPasswordInput(log::ResultLog& log);

  [[nodiscard]] int argc() const { return static_cast<int>(pointers_.size()); }
  [[nodiscard]] const char* const* argv() const { return pointers_.data(); }
  // Whether argument index was read from standard input.
  [[nodiscard]] bool FromInput(int index) const;
  // How a record names argument index: the argument itself, or where on standard input it
  // was read, so that no record repeats a password given there.
  [[nodiscard]] std::string Describe(int index) const;

 private:
  std::vector<std::string> arguments_;
  std::vector<unsigned> inputLines_;  // per argument: its line on standard input, 0 for none
  std::vector<const char*> pointers_;
};

}  // namespace corvane::driver
