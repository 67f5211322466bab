// Message composition: kinds, prefixes, line headers, and the virtual Output that a console
// implements.
#pragma once

#include <cstdint>
#include <optional>

#include "base/console_encoding.h"
#include "base/format.h"
#include "base/status.h"
#include "base/text.h"

namespace srctally {

/// Bits of the flags word of CMessageWriter::Write.
namespace msg {
inline constexpr std::uint32_t kButtonMask = 0x00000FFF;
inline constexpr std::uint32_t kKindMask = 0x000FF000;
inline constexpr std::uint32_t kKindDebug = 0x1000;
inline constexpr std::uint32_t kKindQuery = 0x2000;
inline constexpr std::uint32_t kKindError = 0x4000;
inline constexpr std::uint32_t kKindWarning = 0x8000;
inline constexpr std::uint32_t kKindText = 0x10000;
inline constexpr std::uint32_t kLiteral = 0x00100000;
inline constexpr std::uint32_t kNoHeader = 0x00200000;
inline constexpr std::uint32_t kAppendNewLine = 0x00400000;

inline constexpr std::uint32_t kButtonOk = 0x1;
inline constexpr std::uint32_t kButtonCancel = 0x2;
inline constexpr std::uint32_t kButtonAbort = 0x4;
inline constexpr std::uint32_t kButtonRetry = 0x8;
inline constexpr std::uint32_t kButtonIgnore = 0x10;
inline constexpr std::uint32_t kButtonYes = 0x20;
inline constexpr std::uint32_t kButtonNo = 0x40;

/// Bits of CMessageWriter::headerOptions.
inline constexpr std::uint32_t kHeaderTimeStamp = 0x1;
inline constexpr std::uint32_t kHeaderKindPrefix = 0x2;
inline constexpr std::uint32_t kHeaderPrefixFirst = 0x4;
}  // namespace msg

/// Display levels, compared as numbers: none 1, progress 2, normal 4, verbose 8.
namespace display {
inline constexpr std::uint32_t kNone = 1;
inline constexpr std::uint32_t kProgress = 2;
inline constexpr std::uint32_t kNormal = 4;
inline constexpr std::uint32_t kVerbose = 8;
}  // namespace display

/// Turns message requests into composed lines and hands each line to Output.
class CMessageWriter {
 public:
  CMessageWriter() = default;
  virtual ~CMessageWriter() = default;
  CMessageWriter(const CMessageWriter&) = delete;
  CMessageWriter& operator=(const CMessageWriter&) = delete;

  /// Formats text with args unless flags has msg::kLiteral, composes the line and outputs
  /// it. No text (nullopt): only the header and the line end. Errors (msg::kKindError)
  /// always end their line; a negative code adds the system's text for it on a second line.
  /// Returns the chosen button's result for queries, else 0.
  virtual std::int32_t Write(std::optional<WStringView> text, std::uint32_t flags, HResult code,
                             FormatArgs args);
  /// Write with the program's string resource stringId; the program has no string table
  /// apart from the texts listed in ResourceString, so most ids give an empty text.
  virtual std::int32_t WriteResource(std::uint32_t stringId, std::uint32_t flags, HResult code,
                                     FormatArgs args);
  /// Receives every composed line. The base class discards it.
  virtual void Output(WStringView line);
  /// Raises the indentation by one level (two blanks) when increase, else lowers it.
  virtual void Indent(bool increase);
  /// Asks for one of the buttons in flags; the base class answers 0.
  virtual std::int32_t Prompt(std::uint32_t flags);
  virtual WStringView TimeStampSeparator() const { return u" - "; }
  virtual WStringView LineEnd() const { return u"\n"; }
  /// Sets prefix and answers true for debug, error and warning kinds.
  virtual bool GetKindPrefix(std::uint32_t kind, WStringView& prefix) const;

  bool atLineStart() const { return atLineStart_; }
  std::int32_t indentLevel() const { return indentLevel_; }
  std::uint32_t headerOptions() const { return headerOptions_; }

 protected:
  /// Builds one line (header when at a line start and not msg::kNoHeader, the text, "\n"
  /// with msg::kAppendNewLine), updates atLineStart and hands the line to Output.
  void ComposeLine(std::optional<WStringView> text, std::uint32_t kind, std::uint32_t lineFlags);

  std::uint32_t minimumKind_ = msg::kKindQuery;
  std::uint32_t kindMask_ = 0xFF000;
  std::int32_t indentLevel_ = 0;
  std::uint32_t headerOptions_ = 0;
  bool atLineStart_ = true;

 private:
  void AppendHeader(WString& line, std::uint32_t kind) const;
  void WriteErrorLines(std::optional<WStringView> text, HResult code);

  WString line_;            // the line being composed, kept for the next one
  bool composing_ = false;  // line_ is out in Output
};

/// Text of the program's string resource id (empty for every id it does not carry).
WString ResourceString(std::uint32_t stringId);

template <class... Args>
void WriteText(CMessageWriter& writer, WStringView format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  writer.Write(format, msg::kKindText, 0, FormatArgs(list, sizeof...(Args)));
}

/// Formatted text ending the line; WriteLine(writer) alone writes a line end.
template <class... Args>
void WriteLine(CMessageWriter& writer, WStringView format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  writer.Write(format, msg::kKindText | msg::kAppendNewLine, 0, FormatArgs(list, sizeof...(Args)));
}
inline void WriteLine(CMessageWriter& writer) {
  writer.Write(std::nullopt, msg::kKindText | msg::kAppendNewLine, 0, {});
}

/// Text written as it stands (file names, report blocks, usage): never a format.
inline void WriteLiteral(CMessageWriter& writer, WStringView text) {
  writer.Write(text, msg::kKindText | msg::kLiteral, 0, {});
}

template <class... Args>
void WriteError(CMessageWriter& writer, WStringView format, HResult code, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  writer.Write(format, msg::kKindError, code, FormatArgs(list, sizeof...(Args)));
}

template <class... Args>
void WriteErrorId(CMessageWriter& writer, std::uint32_t stringId, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  writer.WriteResource(stringId, msg::kKindError, 1, FormatArgs(list, sizeof...(Args)));
}

}  // namespace srctally
