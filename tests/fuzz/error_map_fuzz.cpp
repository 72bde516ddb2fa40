// The error map (TivErr.cfg beside the executable) of any content. For every result code:
// - the exit code is the code itself or a number the map gives for that code's key, read the way
//   atoi reads it (saturated to the integer range), never anything else;
// - the translation record shows the code and the exit code, and is all that is written.
// The atoi-like conversion also agrees with the C library's strtoll clamped to the int range.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "driver/translate.h"
#include "fake_host.h"
#include "fuzz_check.h"
#include "log/result_log.h"

namespace {

using namespace corvane;

int ClampedStrtoll(const std::string& text) {
  // strtoll stops at the first NUL, as the conversion stops at any character that is no digit.
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// Every number a line of the map could give for key, whatever section it is in.
std::set<int> MappedValues(const std::string& map, const std::string& key) {
  std::set<int> values;
  for (const std::string& line : fuzz::Split(map, '\n')) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || fuzz::TrimC(line.substr(0, equals)) != key) continue;
    const std::string value = fuzz::TrimC(line.substr(equals + 1));
    for (const std::string& form : {value, Unquoted(value)})
      values.insert(ClampedStrtoll(form.substr(0, 99)));
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static testing::FakeHost host;
  const std::string map(reinterpret_cast<const char*>(data), size);
  host.executablePath = "/opt/corvane/corvane";
  host.files.clear();
  host.files["/opt/corvane/TivErr.cfg"] = map;

  const std::string prefix = map.substr(0, 200);
  FUZZ_CHECK(driver::ConvertLikeAtoi(prefix) == ClampedStrtoll(prefix),
             "the conversion of '" + prefix + "'");

  for (const int code : {0, 1, 10, 11, 12, 13, 15, 16, 17, -1, INT_MIN, INT_MAX}) {
    host.out.clear();
    log::ResultLog log;
    const int translated = driver::TranslateResultCode(log, code);
    const std::string key = std::to_string(code);
    std::set<int> allowed = MappedValues(map, key);
    allowed.insert(code);
    FUZZ_CHECK(allowed.count(translated) == 1,
               "code " + key + " became " + std::to_string(translated));
    FUZZ_CHECK(host.out == "<Warning msg=\"Tiv return value\" real=\"" + key + "\" translated=\"" +
                               std::to_string(translated) + "\" />\n",
               "the record: " + host.out);
  }
  return 0;
}
