// A message writer for tests: records every Write call and the text it would show, errors
// as "ERROR: text [0xCODE]" and warnings as "WARNING: text", for whole-output comparisons.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/format.h"
#include "console/message_writer.h"

namespace srctally::testing {

class RecordingWriter : public CMessageWriter {
 public:
  struct Call {
    bool hasText = false;
    WString text;
    std::uint32_t flags = 0;
    HResult code = 0;
  };

  /// Records the call and appends its text to output: formatted unless msg::kLiteral, then a
  /// line feed when the flags ask for one. No headers or display-level gating.
  std::int32_t Write(std::optional<WStringView> text, std::uint32_t flags, HResult code,
                     FormatArgs args) override {
    Call& call = calls.emplace_back();
    call.hasText = text.has_value();
    if (text) call.text.assign(text->data(), text->size());
    call.flags = flags;
    call.code = code;
    WString body;
    if (text) body = (flags & msg::kLiteral) != 0 ? WString(*text) : FormatV(*text, args);
    switch (flags & msg::kKindMask) {
      case msg::kKindError:
        output += u"ERROR: " + body + Format(u" [0x%08X]\n", static_cast<std::uint32_t>(code));
        break;
      case msg::kKindWarning:
        output += u"WARNING: " + body + u"\n";
        break;
      default:
        output += body;
        if ((flags & msg::kAppendNewLine) != 0) output += u'\n';
    }
    return 0;
  }

  std::string text() const { return ToUtf8(output); }
  void Clear() {
    output.clear();
    calls.clear();
  }

  std::vector<Call> calls;
  WString output;
};

}  // namespace srctally::testing
