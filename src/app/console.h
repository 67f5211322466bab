// The application's console: srctally's parameters, its source path and the texts it gives
// the console frame.
#pragma once

#include <cstdint>

#include "console/base_console.h"
#include "walk/exclude_filter.h"

namespace srctally {

/// Bits of CConsole::options.
namespace option {
inline constexpr std::uint32_t kNoHeader = 0x1;    ///< /noheader: header files are skipped
inline constexpr std::uint32_t kSubdir = 0x2;      ///< /subdir: sub-folders are walked
inline constexpr std::uint32_t kExclude = 0x4;     ///< /exclude: patterns of entries to skip
inline constexpr std::uint32_t kGitIgnore = 0x8;   ///< /gitignore: the repository's ignore rules
inline constexpr std::uint32_t kKeepGoing = 0x20;  ///< /keepgoing: failures do not end the walk
inline constexpr std::uint32_t kLanguages = 0x40;  ///< /languages: counts per language
inline constexpr std::uint32_t kCompare = 0x80;    ///< /compare: differences from a baseline
}  // namespace option

/// Ids of the application's switches.
namespace appparam {
inline constexpr std::uint32_t kNoHeader = 0x20000;
inline constexpr std::uint32_t kSubdir = 0x20001;
inline constexpr std::uint32_t kExclude = 0x20002;
inline constexpr std::uint32_t kGitIgnore = 0x20003;
inline constexpr std::uint32_t kFormat = 0x20004;
inline constexpr std::uint32_t kKeepGoing = 0x20005;
inline constexpr std::uint32_t kLanguages = 0x20006;
inline constexpr std::uint32_t kCompare = 0x20007;
}  // namespace appparam

/// What the run writes to standard output: the report, or a document for programs.
enum class OutputFormat : std::uint8_t {
  kText,  ///< the report (the default)
  kJson,  ///< one JSON document
  kCsv,   ///< CSV rows, one per counted file
};

/// The application's own switches, in lookup order ("n" selects noheader, "s" subdir).
/// Later switches go at the end, so every abbreviation keeps selecting what it did.
inline constexpr ParameterEntry kApplicationParameters[] = {
    {u"noheader", appparam::kNoHeader, 0}, {u"subdir", appparam::kSubdir, 0},
    {u"exclude", appparam::kExclude, 0},   {u"gitignore", appparam::kGitIgnore, 0},
    {u"format", appparam::kFormat, 0},     {u"keepgoing", appparam::kKeepGoing, 0},
    {u"keep-going", appparam::kKeepGoing, 0},  // the GNU spelling, --keep-going
    {u"languages", appparam::kLanguages, 0},   {u"compare", appparam::kCompare, 0},
};

/// Values of /format in lookup order; the id is the OutputFormat.
inline constexpr ParameterEntry kOutputFormats[] = {
    {u"text", static_cast<std::uint32_t>(OutputFormat::kText), 0},
    {u"json", static_cast<std::uint32_t>(OutputFormat::kJson), 0},
    {u"csv", static_cast<std::uint32_t>(OutputFormat::kCsv), 0},
};

/// srctally's console object: the store of the parsed parameters and the path by which
/// all text reaches the console.
class CConsole : public CBaseConsole {
 public:
  explicit CConsole(platform::IConsoleSink& sink);

  WString GetDescription() const override;
  WString GetUsage() const override;
  /// The first positional argument is the source path, made a full path; any other is
  /// rejected.
  std::int32_t OnArgument(std::size_t index, WStringView text) override;
  /// noheader, subdir, gitignore and languages (their values are ignored), exclude with its
  /// patterns, format (one value of kOutputFormats), compare (one value, the baseline), else
  /// the frame's switches.
  std::int32_t OnSwitch(WStringView name, std::span<const WStringView> values) override;
  /// The application's switches take values only after a colon; the others as the frame
  /// says.
  bool TakesSeparateValues(WStringView name) const override;
  /// compare's value is one path, whatever it holds.
  bool KeepsValueWhole(WStringView name) const override;
  /// format takes one following argument, so a path may come after its value.
  std::size_t SeparateValueLimit(WStringView name) const override;
  bool IsSwitchName(WStringView name) const override;
  /// Supplies the current folder as the default path and checks that the path and the
  /// baseline exist, and that CSV is not asked for languages and a comparison at once.
  bool Validate() override;
  /// The title line and legal notice from the program's own version data.
  BannerTexts GetBannerTexts() override;

  std::uint32_t options = 0;
  WString sourcePath;
  /// The patterns of every /exclude, in the order given; names compare as the platform's
  /// file names do.
  CExcludeFilter excludes;
  OutputFormat format = OutputFormat::kText;
  /// The baseline of /compare as the user gave it, and as a full path.
  WString compareGiven;
  WString comparePath;

 private:
  std::int32_t OnFormatSwitch(std::span<const WStringView> values);
  std::int32_t OnCompareSwitch(std::span<const WStringView> values);

  bool pathGiven_ = false;   // a positional argument was taken as the path
  bool pathFailed_ = false;  // the given path could not be made a full path
};

}  // namespace srctally
