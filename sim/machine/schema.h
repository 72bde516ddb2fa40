// The checks of a machine file's objects, as tables. A table lists the keys an object takes, each
// with what its value must be (and whether the key must be there); one walk refuses a key the
// table does not list and a value its row does not take, with the reason the file's author reads.
// A row may keep what it read, so that a loader checks and reads an object in one walk.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "sim/machine/machine_file.h"
#include "sim/machine/section_values.h"

namespace corvane::sim::schema {

// Reads a key's value; false with the whole reason in error when the key does not take it.
// label names the key in reasons: the key in quotes, or its dotted path (see Form).
using Reader = std::function<bool(const Json& value, const std::string& label, std::string& error)>;

struct Key {
  Key(std::string_view key, Reader reader = {}) : name(key), read(std::move(reader)) {}

  std::string_view name;
  Reader read;  // empty: any value, which the loader reads after the walk
  bool required = false;
  // The reason for a required key that is missing; empty: "<label> is missing".
  std::string missing;
  // Set: the key is refused whatever its value, "<label> <refused>".
  std::string refused;
};

// Whether each key is checked with its value in the file's order, or every key first and then the
// values in the table's order.
enum class Order { KeysFirst, InFileOrder };

// Takes a key that the table does not list and that is no control (a WMI property, say); false
// with a reason, which reads as a refusal of the key.
using Others = std::function<bool(const std::string& key, const Json& value, std::string& error)>;

// How the walk goes over an object, and how its reasons name keys.
struct Form {
  // path empty: reasons name a key in quotes ("bh" must be ...), and an unlisted key is refused
  // as `unknown key "k"`. Else the object's dotted path: reasons name `path.key`, and refusals of
  // keys read `path: unknown key "k"`. unlisted is the word for an unlisted key (key, fault).
  // Without others, a key the table does not list is refused whatever it is.
  Form(std::string_view objectPath = {}, std::string_view unlistedWord = "key",
       Order walkOrder = Order::KeysFirst, Others otherKeys = {})
      : path(objectPath), unlisted(unlistedWord), order(walkOrder), others(std::move(otherKeys)) {}

  std::string_view path;
  std::string_view unlisted;
  Order order;
  Others others;
};

// Walks object (an object) by table; false with the reason of the first key or value refused.
bool Read(const Json& object, std::span<const Key> table, std::string& error,
          const Form& form = {});

// Walks a part of the file that reasons name as a whole: "<where>: not an object" when it is none,
// else Read, its reason after "<where>: ".
bool ReadPart(const Json& object, const std::string& where, std::span<const Key> table,
              std::string& error, const Form& form = {});

// Rows by what their value must be. Those given a target keep the value read there; a missing
// key leaves the target alone.
Key Bool(std::string_view name);
Key Bool(std::string_view name, bool& target);
Key Text(std::string_view name);
Key Text(std::string_view name, std::string& target);
Key Object(std::string_view name);  // any object
Key Int32(std::string_view name);   // a 32-bit integer
// An integer from lowest to highest.
Key Integer(std::string_view name, std::int64_t lowest, std::int64_t highest,
            std::function<void(std::int64_t)> keep = {});
template <class T>
Key Integer(std::string_view name, std::int64_t lowest, std::int64_t highest, T& target) {
  return Integer(name, lowest, highest,
                 [&target](std::int64_t number) { target = static_cast<T>(number); });
}
// A firmware number from 0 to highest: a JSON number, or "0x" and hexadecimal digits.
Key Word(std::string_view name, std::uint64_t highest, std::function<void(std::uint64_t)> keep);
template <class T>
Key Word(std::string_view name, std::uint64_t highest, T& target) {
  return Word(name, highest, [&target](std::uint64_t number) { target = static_cast<T>(number); });
}
// One of the texts; keeps its position among them.
Key Choice(std::string_view name, std::initializer_list<std::string_view> texts,
           std::function<void(std::size_t)> keep = {});
template <class T>
Key Choice(std::string_view name, std::initializer_list<std::string_view> texts, T& target) {
  return Choice(name, texts,
                [&target](std::size_t position) { target = static_cast<T>(position); });
}
// Two hexadecimal digits per byte, either case: "<label> must be a string of two hexadecimal
// digits per <unit>".
Key Hex(std::string_view name, std::string_view unit);
Key Hex(std::string_view name, std::string_view unit, std::string& bytes);
// A certificate as the firmware holds it: the one-line base64 of an X.509 certificate's DER
// encoding, with an RSA key. With empty, also the empty text.
Key Certificate(std::string_view name, bool empty = false);
// "accept", "refuse" or "ignore".
Key Writes(std::string_view name, section::Writes& target);
// A required row; missing is the reason when it is missing (empty: "<label> is missing").
Key Required(Key key, std::string missing = {});
// A key refused whatever its value: "<label> <reason>".
Key Refused(std::string_view name, std::string reason);
// The row, refused with reason before its value is read unless holds() (another key of the object
// is there, or is not).
Key When(Key key, std::function<bool()> holds, std::string reason);
// `give either "first" or "second", not both`
std::string EitherReason(std::string_view first, std::string_view second);

// The reasons the rows give, for checks of the same kind outside a table.
std::string IntegerReason(const std::string& label, std::int64_t lowest, std::int64_t highest);

}  // namespace corvane::sim::schema
