#include "sim/machine/machine_file.h"

#include "platform/host.h"

namespace corvane::sim {
namespace {

// Collects the parser's message for a text that is not JSON; the parse itself never throws.
struct SyntaxErrorCatcher {
  std::string message;
  bool null() { return true; }
  bool boolean(bool) { return true; }
  bool number_integer(Json::number_integer_t) { return true; }
  bool number_unsigned(Json::number_unsigned_t) { return true; }
  bool number_float(Json::number_float_t, const Json::string_t&) { return true; }
  bool string(Json::string_t&) { return true; }
  bool binary(Json::binary_t&) { return true; }
  bool start_object(std::size_t) { return true; }
  bool key(Json::string_t&) { return true; }
  bool end_object() { return true; }
  bool start_array(std::size_t) { return true; }
  bool end_array() { return true; }
  bool parse_error(std::size_t, const std::string&, const Json::exception& error) {
    message = error.what();
    return false;
  }
};

}  // namespace

bool ParseJsonText(const std::string& text, Json& document, std::string& error) {
  document = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!document.is_discarded()) return true;
  SyntaxErrorCatcher catcher;
  Json::sax_parse(text, &catcher);
  error = "not valid JSON: " + (catcher.message.empty() ? "parse error" : catcher.message);
  return false;
}

std::string DocumentText(const Json& document) {
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool SaveSection(const std::string& path, std::string_view key, const Json& section,
                 const Json& known) {
  Json sections = Json::object();
  sections[std::string(key)] = section;
  return SaveSections(path, sections, known);
}

bool SaveSections(const std::string& path, const Json& sections, const Json& known) {
  std::string text;
  Json current;
  std::string error;
  if (!platform::Os().ReadFile(path, text) || !ParseJsonText(text, current, error) ||
      !current.is_object())
    current = known;
  for (const auto& [key, section] : sections.items()) current[key] = section;
  return platform::Os().WriteWholeFile(path, DocumentText(current), false);
}

}  // namespace corvane::sim
