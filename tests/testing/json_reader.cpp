// The strict JSON reader of the tests.
#include "testing/json_reader.h"

#include <stdexcept>

#include "base/text.h"

namespace srctally::testing {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  JsonValue Document() {
    JsonValue value = Value();
    SkipSpace();
    if (pos_ != text_.size()) Fail("text after the document");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + " at offset " + std::to_string(pos_));
  }
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  char Peek() {
    if (pos_ >= text_.size()) Fail("unexpected end");
    return text_[pos_];
  }
  void Expect(char ch) {
    if (Peek() != ch) Fail(std::string("expected '") + ch + "'");
    ++pos_;
  }
  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  JsonValue Value() {
    SkipSpace();
    JsonValue value;
    const char ch = Peek();
    if (ch == '{') {
      value.kind = JsonValue::Kind::kObject;
      ++pos_;
      SkipSpace();
      if (Peek() == '}') {
        ++pos_;
        return value;
      }
      for (;;) {
        SkipSpace();
        std::string name = String();
        SkipSpace();
        Expect(':');
        value.members.emplace_back(std::move(name), Value());
        SkipSpace();
        if (Peek() == ',') {
          ++pos_;
          continue;
        }
        Expect('}');
        return value;
      }
    }
    if (ch == '[') {
      value.kind = JsonValue::Kind::kArray;
      ++pos_;
      SkipSpace();
      if (Peek() == ']') {
        ++pos_;
        return value;
      }
      for (;;) {
        value.items.push_back(Value());
        SkipSpace();
        if (Peek() == ',') {
          ++pos_;
          continue;
        }
        Expect(']');
        return value;
      }
    }
    if (ch == '"') {
      value.kind = JsonValue::Kind::kString;
      value.text = String();
      return value;
    }
    if (Literal("true") || Literal("false")) {
      value.kind = JsonValue::Kind::kBool;
      value.boolean = text_[pos_ - 1] == 'e' && text_[pos_ - 2] == 'u';
      return value;
    }
    if (Literal("null")) return value;
    value.kind = JsonValue::Kind::kNumber;
    value.number = Number();
    return value;
  }

  std::string Number() {
    const std::size_t start = pos_;
    auto digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      if (pos_ == from) Fail("expected a digit");
    };
    if (Peek() == '-') ++pos_;
    if (Peek() == '0') {
      ++pos_;
    } else {
      digits();
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      digits();
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      digits();
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  unsigned Hex4() {
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char ch = Peek();
      ++pos_;
      value <<= 4;
      if (ch >= '0' && ch <= '9') {
        value |= static_cast<unsigned>(ch - '0');
      } else if (ch >= 'a' && ch <= 'f') {
        value |= static_cast<unsigned>(ch - 'a' + 10);
      } else if (ch >= 'A' && ch <= 'F') {
        value |= static_cast<unsigned>(ch - 'A' + 10);
      } else {
        Fail("bad \\u escape");
      }
    }
    return value;
  }

  std::string String() {
    Expect('"');
    std::u16string units;
    for (;;) {
      const char ch = Peek();
      if (ch == '"') {
        ++pos_;
        break;
      }
      if (static_cast<unsigned char>(ch) < 0x20) Fail("raw control character in a string");
      if (ch == '\\') {
        ++pos_;
        const char escape = Peek();
        ++pos_;
        switch (escape) {
          case '"':
          case '\\':
          case '/':
            units += static_cast<char16_t>(escape);
            break;
          case 'b':
            units += u'\b';
            break;
          case 'f':
            units += u'\f';
            break;
          case 'n':
            units += u'\n';
            break;
          case 'r':
            units += u'\r';
            break;
          case 't':
            units += u'\t';
            break;
          case 'u':
            units += static_cast<char16_t>(Hex4());
            break;
          default:
            Fail("bad escape");
        }
        continue;
      }
      char32_t cp = 0;
      const std::size_t length = DecodeUtf8At(text_, pos_, cp);
      if (length == 0) Fail("not UTF-8");
      pos_ += length;
      if (cp >= 0x10000) {
        cp -= 0x10000;
        units += static_cast<char16_t>(0xD800 + (cp >> 10));
        units += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      } else {
        units += static_cast<char16_t>(cp);
      }
    }
    // Escapes may only form whole characters: an unpaired surrogate is no text.
    for (std::size_t i = 0; i < units.size(); ++i) {
      const char16_t unit = units[i];
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
          units[i + 1] <= 0xDFFF) {
        ++i;
      } else if (unit >= 0xD800 && unit <= 0xDFFF) {
        Fail("unpaired surrogate");
      }
    }
    return ToUtf8(units);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view name) const {
  for (const auto& [key, value] : members) {
    if (key == name) return &value;
  }
  return nullptr;
}

std::int64_t JsonValue::Integer() const { return std::stoll(number); }

std::optional<JsonValue> ParseJson(std::string_view text, std::string* error) {
  try {
    return Parser(text).Document();
  } catch (const std::runtime_error& failure) {
    if (error != nullptr) *error = failure.what();
    return std::nullopt;
  }
}

}  // namespace srctally::testing
