// Opening a REPSET or RMSET file: its lines as the text-mode reader sees them, and the header
// every reader demands.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "log/result_log.h"

namespace corvane::config {

inline constexpr std::string_view kRepsetHeader = "English";

// Splits bytes into lines at line feeds; a carriage return directly before a line feed is
// dropped, and a last line without a line feed still counts.
std::vector<std::string> SplitLines(std::string_view bytes);

// Reads the file at path into lines, header included. False when the file cannot be read or
// has no first line.
bool ReadFileLines(const std::string& path, std::vector<std::string>& lines);

// The opening steps every reader shares: the file's lines, header included, or false after the
// reader's record (kind tells which) when the file cannot be read, has no first line, or does
// not begin with the header.
bool OpenRepsetFile(const std::string& path, log::FileKind kind, std::vector<std::string>& lines,
                    log::ResultLog& log);

// The line without its leading white space.
std::string WithoutLeadingBlanks(std::string_view line);

// A name line opens a block: not empty and not starting with a tab or a space.
inline bool IsNameLine(std::string_view line) {
  return !line.empty() && line.front() != '\t' && line.front() != ' ';
}
inline bool IsValueLine(std::string_view line) {
  return !line.empty() && (line.front() == '\t' || line.front() == ' ');
}

}  // namespace corvane::config
