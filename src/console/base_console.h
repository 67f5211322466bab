// The console application frame: output gated by the display level, queries, the
// command-line parser with its parameter tables and problem report, the banner and usage
// block, and a rewritable progress line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/format.h"
#include "base/text.h"
#include "console/message_writer.h"
#include "platform/console_sink.h"

namespace srctally {

/// One row of a parameter table: a switch or value word, the id a lookup answers, and a
/// word no lookup reads.
struct ParameterEntry {
  WStringView name;
  std::uint32_t id;
  std::uint32_t extra;
};
using ParameterTable = std::span<const ParameterEntry>;

/// Handler results and the framework's parameter ids. Ids carry their group in the upper
/// 16 bits (1 framework, 2 application) and a bit number in the lower 16.
namespace param {
inline constexpr std::int32_t kResultUnknown = -1;       ///< not a known parameter
inline constexpr std::int32_t kResultRejected = -2;      ///< not accepted here
inline constexpr std::int32_t kResultInvalidValue = -3;  ///< known, wrong or too many values
inline constexpr std::uint32_t kGroupFramework = 1;
inline constexpr std::uint32_t kGroupApplication = 2;
inline constexpr std::uint32_t kDisplay = 0x10000;
inline constexpr std::uint32_t kHelp = 0x10001;
inline constexpr std::uint32_t kVersion = 0x10002;
inline constexpr std::uint32_t kFlagDisplay = 0x1;  ///< bit of kDisplay in parameterFlags
inline constexpr std::uint32_t kFlagHelp = 0x2;     ///< bit of kHelp: the usage is asked for
inline constexpr std::uint32_t kFlagVersion = 0x4;  ///< bit of kVersion: the version is asked for
inline constexpr std::size_t kMaxSwitchValues = 32;

constexpr std::uint32_t Group(std::uint32_t id) { return id >> 16; }
/// The flag bit a recognised parameter sets in its group's flag word.
constexpr std::uint32_t FlagBit(std::uint32_t id) { return 1u << ((id & 0xFFFFu) % 32); }
}  // namespace param

/// The framework's own switches, in lookup order.
inline constexpr ParameterEntry kFrameworkParameters[] = {
    {u"display", param::kDisplay, 0},
    {u"help", param::kHelp, 0},
    {u"?", param::kHelp, 0},
    {u"version", param::kVersion, 0},
};

/// Display levels in lookup order: "n" and "no" select none.
inline constexpr ParameterEntry kDisplayLevels[] = {
    {u"none", display::kNone, 1},
    {u"normal", display::kNormal, 0},
    {u"progress", display::kProgress, 1},
    {u"verbose", display::kVerbose, 0},
};

/// Output translation modes in lookup order: "u" selects unicode.
inline constexpr ParameterEntry kTranslationModes[] = {
    {u"text", translation::kText, 0},
    {u"unicode", translation::kUnicode, 0},
    {u"utf8", translation::kUtf8, 0},
};

/// Finds text as a case-insensitive prefix of a row name; the first match in table order
/// wins. Answers the row index and stores its id in *id (when given), or -1. An empty text
/// matches the first row.
std::int32_t LookupParameter(WStringView text, ParameterTable table, std::uint32_t* id = nullptr);

/// Splits the values after a switch's colon at ",", ";" and "=" into values. A value that
/// starts with a double quote runs to the next one (quotes dropped; text between the
/// closing quote and the next separator is dropped). An empty text is one empty value.
/// Answers 0, or param::kResultInvalidValue for a missing closing quote or more than 32
/// values. The views point into text.
std::int32_t SplitSwitchValues(WStringView text, std::vector<WStringView>& values);

/// The version lines of the banner; either may be missing.
struct BannerTexts {
  std::optional<WString> titleLine;
  std::optional<WString> legalNotice;
};

/// The console application frame. The application derives from it and supplies its
/// description, usage text and parameter handlers.
class CBaseConsole : public CMessageWriter {
 public:
  /// Output goes to sink, which must outlive the console.
  explicit CBaseConsole(platform::IConsoleSink& sink);
  ~CBaseConsole() override;

  /// Finishes an open progress line, then writes the line when the display level is at
  /// least normal, flushes it and counts it.
  void Output(WStringView line) override;
  /// Shows the offered buttons and reads keys until one matches; answers its result
  /// (IDOK 1 ... IDNO 7). Answers 0 without reading when flags offer no button or when
  /// the input has ended.
  std::int32_t Prompt(std::uint32_t flags) override;

  /// Whether the usage was asked for or anything was filed for the problem report.
  virtual bool HasProblems() const;
  /// For a framework id, whether its bit is set in parameterFlags; false for other ids.
  virtual bool IsFlagSet(std::uint32_t id) const;
  /// The application's one-line description, without line end.
  virtual WString GetDescription() const = 0;
  /// The application's usage text after the program name, ending with "\n".
  virtual WString GetUsage() const = 0;
  /// Files a rejected argument (as typed, up to its colon) into the problem report.
  virtual void RecordResult(WStringView argument, std::int32_t result);
  /// A positional argument; index counts from 1. The framework rejects it.
  virtual std::int32_t OnArgument(std::size_t index, WStringView text);
  /// A switch (name without its switch characters) with its values: display, help, "?",
  /// version.
  virtual std::int32_t OnSwitch(WStringView name, std::span<const WStringView> values);
  /// Whether the blank-separated arguments after the switch name (typed without a colon)
  /// are its values. When it answers false, the next argument that is no switch is a
  /// positional argument (unless the switch was rejected: then it is rejected as well).
  /// Names that match no switch answer true, so they keep swallowing what follows them;
  /// so does help, whose values are invalid.
  virtual bool TakesSeparateValues(WStringView name) const;
  /// Whether the text after the switch's colon is one value as it stands (a path that may
  /// hold ',', ';' or '='), rather than a list; double quotes around all of it are taken
  /// off. The frame's switches answer false.
  virtual bool KeepsValueWhole(WStringView name) const;
  /// How many of the following arguments a switch that TakesSeparateValues takes at most;
  /// the next argument that is no switch is then a positional argument again. The frame
  /// sets no limit.
  virtual std::size_t SeparateValueLimit(WStringView name) const;
  /// Whether name (without switch characters) selects a switch, abbreviations included.
  virtual bool IsSwitchName(WStringView name) const;
  /// Whether the text names an existing file or folder; decides whether an argument like
  /// /tmp, which matches no switch, is an absolute path where '/' separates folders.
  virtual bool IsExistingPath(WStringView path) const;
  /// Called once after all arguments; false requests the usage. The framework answers
  /// false when the usage was asked for.
  virtual bool Validate();
  /// Sets (ClearFlag: clears) a framework id's bit; false for other ids.
  virtual bool SetFlag(std::uint32_t id);
  virtual bool ClearFlag(std::uint32_t id);
  /// The banner's version lines. The frame has none of its own.
  virtual BannerTexts GetBannerTexts();

  /// Parses args (args[0], the program path, is skipped) against the handlers above.
  void ParseCommandLine(const std::vector<WString>& args);
  /// Prints the usage (when asked for), the invalid values, the unknown parameters and the
  /// error text, one empty line between sections. True when anything was reported.
  bool ReportProblems();
  /// True when the usage was asked for with --help and nothing else went wrong: the usage
  /// is then the answer the user wanted, not a complaint.
  bool UsageIsTheAnswer() const;
  /// True when the version was asked for and nothing else was asked or went wrong.
  bool VersionIsTheAnswer() const;
  /// The version answer: the banner's title line, or its description line when the
  /// program carries no version data.
  WString VersionText();
  /// Writes VersionText as a line.
  void ShowVersion();
  /// The display switch: up to two values, a level (within allowedLevels) and a mode.
  std::int32_t OnDisplayParameter(std::span<const WStringView> values);
  /// Sets expectedValues to the names of the rows whose id lies within mask (0: all),
  /// comma-separated.
  void BuildExpectedList(ParameterTable table, std::uint32_t mask);

  /// Title line, description, legal notice and an empty line.
  void ShowBanner();
  /// "Usage:", an empty line, then two blanks, the program's file name in lower case
  /// without extension, a blank and the usage text. Nothing when the program path is
  /// unknown.
  void ShowUsage();

  /// Updates the progress line ("\r", the shortened path, ": ", the text) on a console;
  /// a text ending in "\n" finishes it (also on redirected output) and closes it.
  template <class... Args>
  void WriteProgress(WStringView format, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    WriteProgressV(format, FormatArgs(list, sizeof...(Args)));
  }
  void WriteProgressV(WStringView format, FormatArgs args);
  /// Blanks the console line (CR, 78 blanks, CR) when the level is at least progress.
  void ClearProgressLine();

  std::uint32_t displayLevel() const { return displayLevel_; }
  std::uint32_t parameterFlags() const { return parameterFlags_; }
  std::uint32_t outputCount() const { return outputCount_; }
  bool isConsole() const { return isConsole_; }
  /// Whether a write to standard output failed: the output is incomplete and nothing more
  /// reaches it. Cheap enough to ask before each file.
  bool OutputFailed() const { return sink_.HasFailed(); }
  /// OutputFailed of the console at context, for readers that take a plain function.
  static bool OutputFailedAt(const void* context) {
    return static_cast<const CBaseConsole*>(context)->OutputFailed();
  }
  const WString& progressPath() const { return progressPath_; }
  void SetProgressPath(WStringView path) { progressPath_ = path; }
  const WString& errorText() const { return errorText_; }
  std::int32_t errorCode() const { return errorCode_; }

 protected:
  std::uint32_t parameterFlags_ = 0;
  WString expectedValues_;
  WString invalidValues_;
  WString unknownParameters_;
  WString progressPath_;
  WString errorText_;
  std::int32_t errorCode_ = 0;
  std::uint32_t displayLevel_ = display::kNormal;
  std::uint32_t allowedLevels_ = 0x7FFFFFFF;
  std::uint32_t outputCount_ = 0;
  std::int32_t progressWidth_ = 40;
  bool isConsole_ = false;

 private:
  void WriteCounted(WStringView text);
  void WriteSeparator();
  void ShowChoices(std::uint32_t flags);
  bool IsSwitchArgument(WStringView argument) const;
  void HandleSwitch(const std::vector<WString>& args, std::size_t index);
  void FinishPendingSwitch(const std::vector<WString>& args);
  // RecordResult for a switch, remembering whether it was rejected.
  void RecordSwitchResult(WStringView argument, std::int32_t result);
  std::int32_t CallOnSwitch(bool longForm, WStringView name, std::span<const WStringView> values);
  WString ProgressPrefix() const;

  platform::IConsoleSink& sink_;
  // Parser state: the switch that waits for blank-separated values.
  std::optional<std::size_t> pendingIndex_;
  std::size_t pendingCount_ = 0;
  std::size_t pendingLimit_ = 0;
  bool longFormSwitch_ = false;  // the switch being handled was typed as --name
  // The last switch was rejected; positional arguments up to the next switch are too.
  bool afterRejectedSwitch_ = false;
  bool helpAskedLongForm_ = false;
};

/// Keeps a progress path on a console for the time of a scope; its end empties the path
/// (without touching the screen).
class CConsoleProgressPath {
 public:
  CConsoleProgressPath(CBaseConsole& console, WStringView path);
  virtual ~CConsoleProgressPath();
  CConsoleProgressPath(const CConsoleProgressPath&) = delete;
  CConsoleProgressPath& operator=(const CConsoleProgressPath&) = delete;

 private:
  CBaseConsole* console_;
};

}  // namespace srctally
