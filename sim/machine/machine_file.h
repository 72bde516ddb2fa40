// The machine file as JSON text: parsing without exceptions, the text it is written as, and
// saving one section of it. The program's simulated provider and the management library share
// the file, each rewriting only its own section.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace corvane::sim {

using Json = nlohmann::ordered_json;

// Parses text; false with the parser's reason when it is not JSON. Never throws.
bool ParseJsonText(const std::string& text, Json& document, std::string& error);

// The text a machine file is written as: two-space indentation, keys in their order, a final
// line feed.
std::string DocumentText(const Json& document);

// Rewrites the top-level section `key` of the file at path with section, as the host writes
// whole files (never half-written). The file is read again first and only that section is replaced
// in what it holds, so that what another writer saved meanwhile is kept; when it cannot be read or
// parsed, the section goes into `known` (the document as its writer knows it) instead. False when
// the file cannot be written.
bool SaveSection(const std::string& path, std::string_view key, const Json& section,
                 const Json& known);
// The same for several sections at once: sections maps each key to its section.
bool SaveSections(const std::string& path, const Json& sections, const Json& known);

}  // namespace corvane::sim
