// The password options and the scan-code converter, over arguments of any bytes (the input is
// split into arguments at NUL bytes, which no argument can hold):
// - the walk finds exactly the arguments that begin with an option of the selected kinds and
//   are long enough for it, in order, with the text after the option's value offset;
// - in scan-code form, the codes are those the simulated firmware's own keyboard gives for the
//   text, or, when the text has no keys, the value is empty and the failed token is the
//   character or the <NAME> where the conversion stopped;
// - a converted password round-trips through the table: the tokens of its codes convert back to
//   the same codes, and its "<kbd/>" encoding decodes to them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/text.h"
#include "sim/legacy/sim_keyboard.h"
#include "wmi/password_options.h"
#include "wmi/scan_codes.h"

namespace {

using namespace corvane;

struct Row {
  int kind;
  std::string prefix;
  std::size_t offset;
  bool mayBeEmpty;
};

const Row kRows[] = {
    {wmi::kCurrentPasswordOptions, "/CURADMINPASSWORD", 18, false},
    {wmi::kCurrentPasswordOptions, "/CURSETUPPASSWORD", 18, false},
    {wmi::kCurrentPasswordOptions, "/CSPWD", 7, false},
    {wmi::kNewPasswordOptions, "/NEWADMINPASSWORD", 18, true},
    {wmi::kNewPasswordOptions, "/NEWSETUPPASSWORD", 18, true},
    {wmi::kNewPasswordOptions, "/NSPWD", 7, true},
};

struct Found {
  int index;
  std::string value;
};

// The options the walk must find: the first row an argument begins with decides, and an
// argument too short for it is passed over.
std::vector<Found> ExpectedOptions(const std::vector<std::string>& arguments, int kinds) {
  std::vector<Found> found;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string upper = fuzz::UpperAscii(arguments[i]);
    for (const Row& row : kRows) {
      if ((row.kind & kinds) == 0 || upper.compare(0, row.prefix.size(), row.prefix) != 0) continue;
      const std::size_t length = arguments[i].size();
      if (row.mayBeEmpty ? length >= row.offset : length > row.offset)
        found.push_back({static_cast<int>(i), arguments[i].substr(row.offset)});
      break;
    }
  }
  return found;
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : bytes) {
    hex.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
    hex.push_back(kDigits[static_cast<unsigned char>(c) & 0x0F]);
  }
  return hex;
}

// The codes typed back as the table's first token for each.
std::string Retyped(const std::string& codes) {
  std::string text;
  for (const char c : codes) {
    const char* token = nullptr;
    for (const auto& entry : wmi::ScanCodeTable)
      if ((entry.code & 0xFF) == static_cast<unsigned char>(c) && token == nullptr)
        token = entry.token;
    FUZZ_CHECK(token != nullptr, "a code outside the table: " + Hex(std::string(1, c)));
    text += token;
  }
  return text;
}

void CheckConversion(const std::string& text) {
  std::string codes = "stale";
  std::string failedToken = "stale";
  const bool converted = wmi::ConvertToScanCodes(text, codes, failedToken);
  std::string keys;
  const bool typed = sim::KeysOf(text, keys);
  FUZZ_CHECK(converted == typed, "converter and keyboard disagree on '" + text + "'");
  if (!converted) {
    FUZZ_CHECK(codes.empty() && !failedToken.empty(), "a failure without its token");
    FUZZ_CHECK(failedToken.size() == 1
                   ? text.find(failedToken) != std::string::npos
                   : failedToken.front() == '<' && failedToken.back() == '>' &&
                         fuzz::UpperAscii(text).find(failedToken) != std::string::npos,
               "the failed token '" + failedToken + "' is not from '" + text + "'");
    return;
  }
  FUZZ_CHECK(failedToken.empty(), "a success with a failed token");
  FUZZ_CHECK(codes == keys, "codes " + Hex(codes) + ", keys " + Hex(keys) + " for '" + text + "'");
  std::string again;
  FUZZ_CHECK(wmi::ConvertToScanCodes(Retyped(codes), again, failedToken) && again == codes,
             "the codes do not round-trip through the table: " + Hex(codes));
  FUZZ_CHECK(wmi::EncodeKbdPassword(codes) == "<kbd/>" + Hex(codes), "the <kbd/> form");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> arguments = fuzz::Split(input, '\0');
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  const int argc = static_cast<int>(argv.size());

  CheckConversion(input.substr(0, input.find('\0')));
  for (const int kinds :
       {wmi::kCurrentPasswordOptions, wmi::kNewPasswordOptions, wmi::kAllPasswordOptions}) {
    const std::vector<Found> expected = ExpectedOptions(arguments, kinds);
    for (const bool textForm : {true, false}) {
      int cursor = -1;
      std::size_t n = 0;
      std::string value;
      std::string failedToken;
      while (wmi::ParsePasswordOptionInForm(textForm, argc, argv.data(), kinds, &cursor, value,
                                            failedToken)) {
        FUZZ_CHECK(n < expected.size() && cursor == expected[n].index,
                   "an option found at argument " + std::to_string(cursor));
        const std::string& text = expected[n].value;
        if (textForm) {
          FUZZ_CHECK(value == text, "the text form is not the text typed");
          FUZZ_CHECK(wmi::EncodeUtf16Password(value) == "<utf-16/>" + text, "the <utf-16/> form");
        } else {
          std::string codes, token;
          const bool converted = wmi::ConvertToScanCodes(text, codes, token);
          FUZZ_CHECK(value == codes && (converted ? failedToken.empty() : failedToken == token),
                     "the scan-code form of '" + text + "'");
          if (converted) CheckConversion(text);
        }
        failedToken.clear();
        ++n;
      }
      FUZZ_CHECK(n == expected.size() && cursor == argc, "the walk ended early");
    }
  }
  return 0;
}
