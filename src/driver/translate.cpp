#include "driver/translate.h"

#include <algorithm>
#include <climits>

#include "log/result_log.h"
#include "platform/host.h"
#include "platform/text.h"

namespace corvane::driver {
namespace {

constexpr std::string_view kErrorMapName = "TivErr.cfg";

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsAtoiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The directory gets one separator of its own kind; the name loses its leading ones.
std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string joined = platform::Trim(directory);
  if (joined.empty()) return {};
  if (!IsSeparator(joined.back()))
    joined.push_back(joined.find('/') != std::string::npos ? '/' : '\\');
  std::string file = platform::Trim(name);
  while (!file.empty() && IsSeparator(file.front())) file = platform::Trim(file.substr(1));
  return joined + file;
}

}  // namespace

std::string ErrorMapPath(std::string_view executablePath) {
  const std::size_t separator = executablePath.find_last_of("\\/");
  if (separator == std::string_view::npos) return {};
  return JoinPath(executablePath.substr(0, separator + 1), kErrorMapName);
}

int ConvertLikeAtoi(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && IsAtoiSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  // The magnitude stops one past INT_MAX: enough to saturate on either side, and long runs of
  // digits cannot overflow it.
  constexpr long long kBeyond = static_cast<long long>(INT_MAX) + 1;
  long long magnitude = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
    magnitude = std::min(magnitude * 10 + (text[pos] - '0'), kBeyond);
  return static_cast<int>(
      std::clamp<long long>(negative ? -magnitude : magnitude, INT_MIN, INT_MAX));
}

int TranslateResultCode(log::ResultLog& log, int resultCode) {
  platform::Host& host = platform::Os();
  const std::string key = std::to_string(resultCode);
  const std::string mapPath = ErrorMapPath(host.ExecutablePath());
  // Without a map every code stands for itself.
  const std::string value =
      mapPath.empty() ? key : host.ReadProfileString("Errors", key, key, mapPath);
  const int translated = ConvertLikeAtoi(value);
  log.Translation(resultCode, translated);
  return translated;
}

}  // namespace corvane::driver
