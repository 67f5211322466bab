// A strict reader of JSON text (RFC 8259) for tests: it rejects anything that is not one
// valid document in valid UTF-8, and gives the values as a small tree.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace srctally::testing {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string number;  ///< the number's text as written
  std::string text;    ///< a string's value, UTF-8
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;  ///< in document order

  /// The member named name; nullptr when there is none or this is no object.
  const JsonValue* Find(std::string_view name) const;
  /// The number as an integer (its text must be one).
  std::int64_t Integer() const;
};

/// Parses text as one JSON document; nullopt (and the reason in *error) when it is not one.
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error = nullptr);

}  // namespace srctally::testing
