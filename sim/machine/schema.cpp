#include "sim/machine/schema.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "platform/hex.h"
#include "platform/signature.h"
#include "sim/wmi/wmi_objects.h"

namespace corvane::sim::schema {
namespace {

const Key* Find(std::span<const Key> table, const std::string& name) {
  const auto row =
      std::find_if(table.begin(), table.end(), [&](const Key& key) { return key.name == name; });
  return row == table.end() ? nullptr : &*row;
}

class Walk {
 public:
  Walk(std::span<const Key> table, const Form& form, std::string& error)
      : table_(table), form_(form), error_(error) {}

  [[nodiscard]] std::string Label(std::string_view key) const {
    if (form_.path.empty()) return '"' + std::string(key) + '"';
    return std::string(form_.path).append(".").append(key);
  }

  // Whether the key may stand in the object; a key no row lists that `others` takes is read here.
  bool Admit(const std::string& key, const Json& value, const Key*& row) {
    row = Find(table_, key);
    if (row != nullptr && row->refused.empty()) return true;
    if (row != nullptr) return Fail(Label(key) + " " + row->refused);
    if (form_.others && !IsControlKey(key)) {
      if (form_.others(key, value, error_)) return true;
      return Fail(error_);
    }
    return Fail("unknown " + std::string(form_.unlisted) + " \"" + key + "\"");
  }

  bool Value(const Key* row, const Json& value) {
    return row == nullptr || !row->read || row->read(value, Label(row->name), error_);
  }

  bool Missing(const Key& row) {
    error_ = row.missing.empty() ? Label(row.name) + " is missing" : row.missing;
    return false;
  }

 private:
  // A refusal of a key: in a dotted object it names the object first.
  bool Fail(const std::string& reason) {
    error_ = form_.path.empty() ? reason : std::string(form_.path).append(": ").append(reason);
    return false;
  }

  std::span<const Key> table_;
  const Form& form_;
  std::string& error_;
};

}  // namespace

bool Read(const Json& object, std::span<const Key> table, std::string& error, const Form& form) {
  Walk walk(table, form, error);
  const Key* row = nullptr;
  for (const auto& [key, value] : object.items()) {
    if (!walk.Admit(key, value, row)) return false;
    if (form.order == Order::InFileOrder && !walk.Value(row, value)) return false;
  }
  for (const Key& key : table) {
    if (!key.refused.empty()) continue;
    const auto value = object.find(key.name);
    if (value == object.end()) {
      if (key.required && !walk.Missing(key)) return false;
    } else if (form.order == Order::KeysFirst && !walk.Value(&key, *value)) {
      return false;
    }
  }
  return true;
}

bool ReadPart(const Json& object, const std::string& where, std::span<const Key> table,
              std::string& error, const Form& form) {
  if (!object.is_object())
    error = "not an object";
  else if (Read(object, table, error, form))
    return true;
  error.insert(0, where + ": ");
  return false;
}

namespace {

// A row whose value must pass test, else "<label> must be <what>"; keep takes a value that does.
Key Must(std::string_view name, std::function<bool(const Json&)> test, std::string what,
         std::function<void(const Json&)> keep = {}) {
  return {name, [test = std::move(test), what = std::move(what), keep = std::move(keep)](
                    const Json& value, const std::string& label, std::string& error) {
            if (!test(value)) {
              error = label + " must be " + what;
              return false;
            }
            if (keep) keep(value);
            return true;
          }};
}

bool IsBool(const Json& value) {
  return value.is_boolean();
}
bool IsText(const Json& value) {
  return value.is_string();
}

bool IsHex(const Json& value, std::string& bytes) {
  return value.is_string() && platform::DecodeHex(value.get_ref<const std::string&>(), bytes);
}

std::string HexWhat(std::string_view unit) {
  return "a string of two hexadecimal digits per " + std::string(unit);
}

std::string IntegerRange(std::int64_t lowest, std::int64_t highest) {
  return "an integer from " + std::to_string(lowest) + " to " + std::to_string(highest);
}

}  // namespace

Key Bool(std::string_view name) {
  return Must(name, IsBool, "true or false");
}

Key Bool(std::string_view name, bool& target) {
  return Must(name, IsBool, "true or false",
              [&target](const Json& value) { target = value.get<bool>(); });
}

Key Text(std::string_view name) {
  return Must(name, IsText, "a string");
}

Key Text(std::string_view name, std::string& target) {
  return Must(name, IsText, "a string",
              [&target](const Json& value) { target = value.get<std::string>(); });
}

Key Object(std::string_view name) {
  return Must(
      name, [](const Json& value) { return value.is_object(); }, "an object");
}

Key Int32(std::string_view name) {
  return Must(
      name,
      [](const Json& value) {
        std::int64_t number = 0;
        return section::ReadInteger(value, std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max(), number);
      },
      "a 32-bit integer");
}

std::string IntegerReason(const std::string& label, std::int64_t lowest, std::int64_t highest) {
  return label + " must be " + IntegerRange(lowest, highest);
}

Key Integer(std::string_view name, std::int64_t lowest, std::int64_t highest,
            std::function<void(std::int64_t)> keep) {
  return Must(
      name,
      [lowest, highest](const Json& value) {
        std::int64_t number = 0;
        return section::ReadInteger(value, lowest, highest, number);
      },
      IntegerRange(lowest, highest),
      [keep = std::move(keep)](const Json& value) {
        if (keep) keep(value.get<std::int64_t>());
      });
}

Key Word(std::string_view name, std::uint64_t highest, std::function<void(std::uint64_t)> keep) {
  return {name, [highest, keep = std::move(keep)](const Json& value, const std::string& label,
                                                  std::string& error) {
            std::uint64_t number = 0;
            if (!section::ParseWord(value, highest, number)) {
              error = section::WordReason(label, highest);
              return false;
            }
            keep(number);
            return true;
          }};
}

Key Choice(std::string_view name, std::initializer_list<std::string_view> texts,
           std::function<void(std::size_t)> keep) {
  std::vector<std::string_view> choices(texts);
  std::string what;
  for (std::size_t i = 0; i < choices.size(); ++i)
    what.append(i == 0                   ? ""
                : i + 1 < choices.size() ? ", "
                                         : " or ")
        .append("\"")
        .append(choices[i])
        .append("\"");
  const auto position = [choices](const Json& value) {
    return static_cast<std::size_t>(
        std::find_if(choices.begin(), choices.end(),
                     [&](std::string_view text) {
                       return value.is_string() && value.get_ref<const std::string&>() == text;
                     }) -
        choices.begin());
  };
  return Must(
      name,
      [position, count = choices.size()](const Json& value) { return position(value) < count; },
      std::move(what),
      [position, keep = std::move(keep)](const Json& value) {
        if (keep) keep(position(value));
      });
}

Key Hex(std::string_view name, std::string_view unit) {
  return Must(
      name,
      [](const Json& value) {
        std::string bytes;
        return IsHex(value, bytes);
      },
      HexWhat(unit));
}

Key Hex(std::string_view name, std::string_view unit, std::string& bytes) {
  return Must(
      name, [&bytes](const Json& value) { return IsHex(value, bytes); }, HexWhat(unit));
}

Key Certificate(std::string_view name, bool empty) {
  return Must(
      name,
      [empty](const Json& value) {
        if (!value.is_string()) return false;
        const auto& text = value.get_ref<const std::string&>();
        std::string der;
        return (empty && text.empty()) || (platform::CertificateBase64(text, der) && der == text);
      },
      std::string(empty ? "the empty text or " : "") +
          "the one-line base64 of an X.509 certificate's DER encoding with an RSA key");
}

Key Writes(std::string_view name, section::Writes& target) {
  return Choice(name, {"accept", "refuse", "ignore"}, target);
}

Key Required(Key key, std::string missing) {
  key.required = true;
  key.missing = std::move(missing);
  return key;
}

Key Refused(std::string_view name, std::string reason) {
  Key key{name};
  key.refused = std::move(reason);
  return key;
}

Key When(Key key, std::function<bool()> holds, std::string reason) {
  key.read = [holds = std::move(holds), reason = std::move(reason), read = std::move(key.read)](
                 const Json& value, const std::string& label, std::string& error) {
    if (holds()) return !read || read(value, label, error);
    error = reason;
    return false;
  };
  return key;
}

std::string EitherReason(std::string_view first, std::string_view second) {
  return "give either \"" + std::string(first) + "\" or \"" + std::string(second) + "\", not both";
}

}  // namespace corvane::sim::schema
