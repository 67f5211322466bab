// A message writer that keeps what it is asked to write as one text, for whole-output
// comparisons: errors as "ERROR: text [0xCODE]", warnings as "WARNING: text".
#pragma once

#include <string>

#include "base/format.h"
#include "console/message_writer.h"

namespace srctally::testing {

class RecordingWriter : public CMessageWriter {
 public:
  std::int32_t Write(std::optional<WStringView> text, std::uint32_t flags, HResult code,
                     FormatArgs args) override {
    WString body;
    if (text) body = (flags & msg::kLiteral) != 0 ? WString(*text) : FormatV(*text, args);
    switch (flags & msg::kKindMask) {
      case msg::kKindError:
        output_ += u"ERROR: " + body + Format(u" [0x%08X]\n", static_cast<std::uint32_t>(code));
        break;
      case msg::kKindWarning:
        output_ += u"WARNING: " + body + u"\n";
        break;
      default:
        output_ += body;
        if ((flags & msg::kAppendNewLine) != 0) output_ += u"\n";
    }
    return 0;
  }

  std::string text() const { return ToUtf8(output_); }
  void Clear() { output_.clear(); }

 private:
  WString output_;
};

}  // namespace srctally::testing
