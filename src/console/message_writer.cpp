// Message composition: formatting, line headers, error lines with the system's text.
#include "console/message_writer.h"

#include "runtime/system_text.h"

namespace srctally {
namespace {

constexpr std::size_t kLineReserve = 1024;
// A line buffer grown past this by a long line is given back after it, not kept for good.
constexpr std::size_t kLineKeep = 16384;

// The crash report's text: the one string the program carries. Every other id is empty.
struct ResourceText {
  std::uint32_t id;
  const char16_t* text;
};
constexpr ResourceText kResourceTexts[] = {
    {27009, u"the program stopped unexpectedly; a crash dump was written to '%s'."},
};

}  // namespace

WString ResourceString(std::uint32_t stringId) {
  for (const ResourceText& row : kResourceTexts) {
    if (row.id == stringId) return row.text;
  }
  return WString();
}

std::int32_t CMessageWriter::Write(std::optional<WStringView> text, std::uint32_t flags,
                                   HResult code, FormatArgs args) {
  if ((flags & kindMask_ & msg::kKindMask) < minimumKind_) return 0;
  WString formatted;
  // A format without a conversion formats to itself: fixed text (a row's dots, a line's
  // end) costs no formatting and no string of its own.
  if (text.has_value() && (flags & msg::kLiteral) == 0 && text->find(u'%') != WStringView::npos) {
    formatted = FormatV(*text, args);
    text = formatted;
  }
  const std::uint32_t kind = flags & msg::kKindMask;
  switch (kind) {
    case msg::kKindText:
    case msg::kKindWarning:
    case msg::kKindDebug:
      ComposeLine(text, kind, flags);
      return 0;
    case msg::kKindError:
      WriteErrorLines(text, code);
      return 0;
    case msg::kKindQuery:
      ComposeLine(text, kind, 0);
      return Prompt(flags);
    default:
      return 0;
  }
}

void CMessageWriter::WriteErrorLines(std::optional<WStringView> text, HResult code) {
  // An error always gets its header at a line start and always ends its line.
  ComposeLine(text, msg::kKindError, msg::kAppendNewLine);
  if (code >= 0) return;
  SystemTextBuffer systemText;
  if (GetSystemErrorText(static_cast<std::uint32_t>(code), systemText)) {
    ComposeLine(WStringView(systemText), msg::kKindError, msg::kNoHeader | msg::kAppendNewLine);
  }
}

std::int32_t CMessageWriter::WriteResource(std::uint32_t stringId, std::uint32_t flags,
                                           HResult code, FormatArgs args) {
  const WString text = ResourceString(stringId & 0xFFFFu);
  return Write(WStringView(text), flags, code, args);
}

void CMessageWriter::Output(WStringView /*line*/) {}

void CMessageWriter::Indent(bool increase) { indentLevel_ += increase ? 1 : -1; }

std::int32_t CMessageWriter::Prompt(std::uint32_t /*flags*/) { return 0; }

bool CMessageWriter::GetKindPrefix(std::uint32_t kind, WStringView& prefix) const {
  switch (kind) {
    case msg::kKindDebug:
      prefix = u"DEBUG:";
      return true;
    case msg::kKindError:
      prefix = u"ERROR:";
      return true;
    case msg::kKindWarning:
      prefix = u"WARNING:";
      return true;
    default:
      return false;
  }
}

void CMessageWriter::AppendHeader(WString& line, std::uint32_t kind) const {
  if ((headerOptions_ & msg::kHeaderTimeStamp) != 0) {
    SystemTextBuffer stamp;
    if (GetLocalDateTimeText(stamp) != 0) {
      line += WStringView(stamp);
      line += TimeStampSeparator();
    }
  }
  WStringView prefix;
  const bool hasPrefix =
      (headerOptions_ & msg::kHeaderKindPrefix) != 0 && GetKindPrefix(kind, prefix);
  const std::size_t indentation =
      indentLevel_ > 0 ? 2 * static_cast<std::size_t>(indentLevel_) : 0;
  const bool prefixFirst = (headerOptions_ & msg::kHeaderPrefixFirst) != 0;
  if (!prefixFirst) line.append(indentation, u' ');
  if (hasPrefix) {
    line += prefix;
    line += u' ';
  }
  if (prefixFirst) line.append(indentation, u' ');
}

void CMessageWriter::ComposeLine(std::optional<WStringView> text, std::uint32_t kind,
                                 std::uint32_t lineFlags) {
  // The line is built in a buffer kept from call to call, so a row of dots allocates
  // nothing. An Output that writes a message of its own while it holds the line builds
  // that one in a string of its own.
  WString own;
  WString& line = composing_ ? own : line_;
  line.clear();
  if (line.capacity() < kLineReserve) line.reserve(kLineReserve);
  if (atLineStart_ && (lineFlags & msg::kNoHeader) == 0) AppendHeader(line, kind);
  if (text.has_value()) line += *text;
  if ((lineFlags & msg::kAppendNewLine) != 0) line += LineEnd();
  atLineStart_ = !line.empty() && line.back() == u'\n';
  if (&line == &own) {
    Output(line);
    return;
  }
  struct Release {
    CMessageWriter& writer;
    ~Release() {
      writer.composing_ = false;
      if (writer.line_.capacity() > kLineKeep) WString().swap(writer.line_);
    }
  } release{*this};
  composing_ = true;
  Output(line);
}

}  // namespace srctally
