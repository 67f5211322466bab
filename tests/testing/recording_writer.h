// A message writer for tests: records every Write call and the text it would show.
#pragma once

#include <optional>
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
  /// line feed when the flags ask for one. No headers, prefixes or display-level gating.
  std::int32_t Write(std::optional<WStringView> text, std::uint32_t flags, HResult code,
                     FormatArgs args) override {
    Call& call = calls.emplace_back();
    call.hasText = text.has_value();
    if (text) call.text.assign(text->data(), text->size());
    call.flags = flags;
    call.code = code;
    if (text) output += (flags & msg::kLiteral) != 0 ? WString(*text) : FormatV(*text, args);
    if ((flags & msg::kAppendNewLine) != 0) output += u'\n';
    return 0;
  }

  std::vector<Call> calls;
  WString output;
};

}  // namespace srctally::testing
