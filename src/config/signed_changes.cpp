#include "config/signed_changes.h"

#include <algorithm>
#include <cstdint>

#include "config/repset_file.h"
#include "platform/text.h"

namespace corvane::config {
namespace {

constexpr std::string_view kDisabledMark = " DISABLED";

void AddForm(SignedBlock& block, const std::string& value) {
  std::string text = std::string(kSignedSetPrefix) + block.name + "," + value;
  if (std::find(block.texts.begin(), block.texts.end(), text) == block.texts.end())
    block.texts.push_back(std::move(text));
}

// Digits joined by '/', ':', '.' or '-': a date or a time, which the firmware may show and take
// in brackets.
bool LooksLikeDateOrTime(std::string_view text) {
  bool digit = false, separator = false;
  for (const char c : text) {
    if (c >= '0' && c <= '9')
      digit = true;
    else if (c == '/' || c == ':' || c == '.' || c == '-')
      separator = true;
    else
      return false;
  }
  return digit && separator;
}

// A decimal number as it reads back: without a '+' or leading zeros.
bool CanonicalNumber(const std::string& text, std::string& canonical) {
  std::size_t at = text.size() > 1 && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (at == text.size()) return false;
  std::int64_t number = 0;
  for (std::size_t i = at; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9' || number > INT32_MAX) return false;
    number = number * 10 + (text[i] - '0');
  }
  if (text[0] == '-') number = -number;
  if (number < INT32_MIN || number > INT32_MAX) return false;
  canonical = std::to_string(number);
  return true;
}

void AddTextForms(SignedBlock& block, const std::string& value) {
  AddForm(block, value);
  std::string canonical;
  if (CanonicalNumber(value, canonical)) AddForm(block, canonical);
  const bool bracketed = value.size() >= 2 && value.front() == '[' && value.back() == ']';
  const std::string inner = bracketed ? platform::Trim(value.substr(1, value.size() - 2)) : value;
  if (LooksLikeDateOrTime(inner)) {
    AddForm(block, inner);
    AddForm(block, "[" + inner + "]");
  }
}

// An order: the devices not marked DISABLED, joined with ':' as the firmware writes them.
std::string OrderForm(const std::vector<std::string>& values) {
  std::string order;
  for (const auto& value : values) {
    const std::string upper = platform::AsciiUpper(value);
    if (upper.size() >= kDisabledMark.size() &&
        upper.compare(upper.size() - kDisabledMark.size(), kDisabledMark.size(), kDisabledMark) ==
            0)
      continue;
    if (!order.empty()) order += ':';
    order += value;
  }
  return order;
}

SignedBlock ReadBlock(const std::string& name, const std::vector<std::string>& values) {
  SignedBlock block;
  block.name = platform::Trim(name);
  // These end the fields of the texts the firmware takes.
  const auto uncarriable = [](const std::string& text) {
    return text.find_first_of(",;") != std::string::npos;
  };
  if (uncarriable(block.name) || std::any_of(values.begin(), values.end(), uncarriable)) {
    block.refusal = "the firmware's interface cannot carry ',' or ';'";
    return block;
  }
  bool marked = false;
  for (const auto& value : values) {
    if (value.empty() || value.front() != '*') continue;
    marked = true;
    AddForm(block, platform::Trim(value.substr(1)));
  }
  if (marked) return block;
  if (values.size() <= 1) {
    AddTextForms(block, values.empty() ? std::string() : values.front());
    return block;
  }
  const std::string order = OrderForm(values);
  if (order.empty())
    block.refusal = "an order needs at least one device that is not marked DISABLED";
  else
    AddForm(block, order);
  return block;
}

}  // namespace

std::vector<SignedBlock> SignedBlocks(const std::vector<std::string>& lines) {
  std::vector<SignedBlock> blocks;
  std::size_t i = 1;
  while (i < lines.size()) {
    const std::string& name = lines[i++];
    if (!IsNameLine(name) || platform::Trim(name).empty()) continue;
    std::vector<std::string> values;
    for (; i < lines.size() && !IsNameLine(lines[i]); ++i) {
      std::string value = platform::Trim(lines[i]);
      if (!value.empty()) values.push_back(std::move(value));
    }
    blocks.push_back(ReadBlock(name, values));
  }
  return blocks;
}

bool ParseSignatureFile(std::string_view bytes, std::map<std::string, std::string>& book,
                        std::size_t& badLine) {
  book.clear();
  const std::vector<std::string> lines = SplitLines(bytes);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) continue;
    const std::size_t tab = line.find('\t');
    if (tab == 0 || tab == std::string::npos || tab + 1 == line.size() ||
        line.find('\t', tab + 1) != std::string::npos) {
      badLine = i + 1;
      return false;
    }
    book[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return true;
}

}  // namespace corvane::config
