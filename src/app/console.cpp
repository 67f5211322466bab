// srctally's parameters and texts on top of the console frame.
#include "app/console.h"

#include "base/format.h"
#include "platform/file_system.h"
#include "platform/full_path.h"
#include "runtime/version_info.h"

namespace srctally {
namespace {

// Capacity of the source path. Long enough for any path the walk can use, so a long path
// given by the user is counted rather than rejected.
constexpr std::size_t kSourcePathCapacity = 32772;

constexpr char16_t kUsage[] =
    u"[<path>] [/display [<level> [<mode>]]] [/noheader] [/subdir] [/?]\n\nWhere:\n\n"
    u"  <path>     File or directory to browse [Default: current directory].\n\n"
    u"Optional parameters:\n\n"
    u"  /display     Sets the level of information that will be displayed and\n"
    u"                optionally the translation mode.\n"
    u"                <level> is either of the following values:\n"
    u"                 normal  - compact output (default).\n"
    u"                 verbose - detailed output.\n"
    u"                <mode> is either of the following translation modes:\n"
    u"                 text    - default output.\n"
    u"                 unicode - UTF-16 output.\n"
    u"                 utf8    - UTF-8 output.\n"
    u"  /noheader  Does not process header files.\n"
    u"  /subdir    Processes files in sub-directories.\n"
    u"  /format    Sets what is written to the standard output:\n"
    u"              text - the report (default).\n"
    u"              json - one JSON document with the counts of every file.\n"
    u"              csv  - the counts of every file as CSV rows.\n"
    u"  /?         Displays this help message.\n"
    u"  /version   Displays the version.\n"
    u"  /exclude:<pattern>[,<pattern>...]\n"
    u"             Does not process files and folders that match a pattern: a name\n"
    u"             at any depth, or with a '/' a path below <path>.\n"
    u"  /gitignore Does not process what the .gitignore files and the repository\n"
    u"             ignore, nor .git folders.\n"
    u"  /keepgoing Goes on after a file or folder that cannot be read, counts the\n"
    u"             rest and ends with exit code 2.\n"
    u"  /languages Adds the counts per language: a table after the summary, or\n"
    u"             with /format csv one row per language instead of one per file.\n"
    u"  /compare:<baseline>\n"
    u"             Shows what changed against <baseline>: a JSON document written\n"
    u"             with /format json, or a folder or source file counted the same\n"
    u"             way.\n";

// Switches of the application table that take values only after a colon: a blank-separated
// argument after them is the path. /exclude is one of them, so "srctally /exclude:x src"
// and "srctally src /exclude:x" both count src.
constexpr std::uint32_t kSwitchesWithoutSeparateValues[] = {
    appparam::kNoHeader,  appparam::kSubdir,    appparam::kExclude, appparam::kGitIgnore,
    appparam::kKeepGoing, appparam::kLanguages, appparam::kCompare};

// text with each '%' doubled, for a message that is written as a format.
WString WithPercentDoubled(WStringView text) {
  WString out;
  for (const char16_t ch : text) {
    if (ch == u'%') out += u'%';
    out += ch;
  }
  return out;
}

}  // namespace

CConsole::CConsole(platform::IConsoleSink& sink)
    : CBaseConsole(sink),
      excludes(GlobCase(platform::NameCaseFolding()), platform::PathSeparator() == u'\\') {
  headerOptions_ = msg::kHeaderKindPrefix;
  allowedLevels_ = display::kNormal | display::kVerbose;
}

WString CConsole::GetDescription() const {
  return u"Counts code and comment lines in C/C++/C#, Arduino and Java source files.";
}

WString CConsole::GetUsage() const { return kUsage; }

std::int32_t CConsole::OnArgument(std::size_t /*index*/, WStringView text) {
  if (pathGiven_) return param::kResultRejected;
  pathGiven_ = true;
  // An empty path names nothing; made a full path it would silently be the current folder.
  if (text.empty() || !platform::MakeFullPath(text, sourcePath, kSourcePathCapacity)) {
    // Counting the current folder instead of the path the user named would be a silent
    // wrong result: remember the failure so Validate reports it.
    sourcePath.clear();
    pathFailed_ = true;
  }
  return 0;
}

std::int32_t CConsole::OnSwitch(WStringView name, std::span<const WStringView> values) {
  std::uint32_t id = 0;
  const std::int32_t row = LookupParameter(name, kApplicationParameters, &id);
  if (row < 0) return CBaseConsole::OnSwitch(name, values);
  options |= param::FlagBit(id);
  if (id == appparam::kExclude) {
    // Empty values (as in "a,,b") are passed over; a pattern that can match no name, or
    // no pattern at all, is an invalid value.
    bool added = false;
    for (const WStringView pattern : values) {
      if (pattern.empty()) continue;
      if (!excludes.Add(pattern)) return param::kResultInvalidValue;
      added = true;
    }
    if (!added) return param::kResultInvalidValue;
  }
  if (id == appparam::kFormat) {
    const std::int32_t result = OnFormatSwitch(values);
    if (result < 0) return result;
  }
  if (id == appparam::kCompare) {
    const std::int32_t result = OnCompareSwitch(values);
    if (result < 0) return result;
  }
  return row;
}

bool CConsole::TakesSeparateValues(WStringView name) const {
  std::uint32_t id = 0;
  if (LookupParameter(name, kApplicationParameters, &id) < 0) {
    return CBaseConsole::TakesSeparateValues(name);
  }
  for (const std::uint32_t valueless : kSwitchesWithoutSeparateValues) {
    if (id == valueless) return false;
  }
  return true;
}

bool CConsole::KeepsValueWhole(WStringView name) const {
  std::uint32_t id = 0;
  return LookupParameter(name, kApplicationParameters, &id) >= 0 && id == appparam::kCompare;
}

std::size_t CConsole::SeparateValueLimit(WStringView name) const {
  std::uint32_t id = 0;
  if (LookupParameter(name, kApplicationParameters, &id) >= 0 && id == appparam::kFormat) return 1;
  return CBaseConsole::SeparateValueLimit(name);
}

bool CConsole::IsSwitchName(WStringView name) const {
  return LookupParameter(name, kApplicationParameters) >= 0 || CBaseConsole::IsSwitchName(name);
}

std::int32_t CConsole::OnFormatSwitch(std::span<const WStringView> values) {
  std::uint32_t id = 0;
  if (values.size() != 1 || values[0].empty() ||
      LookupParameter(values[0], kOutputFormats, &id) < 0) {
    BuildExpectedList(kOutputFormats, 0);
    return param::kResultInvalidValue;
  }
  format = static_cast<OutputFormat>(id);
  return 0;
}

std::int32_t CConsole::OnCompareSwitch(std::span<const WStringView> values) {
  // One baseline: the whole text after the colon (see KeepsValueWhole).
  if (values.size() != 1 || values[0].empty()) return param::kResultInvalidValue;
  compareGiven.assign(values[0]);
  if (!platform::MakeFullPath(compareGiven, comparePath, kSourcePathCapacity)) comparePath.clear();
  return 0;
}

bool CConsole::Validate() {
  if ((parameterFlags_ & param::kFlagHelp) != 0) return false;
  // Asked for the version only, nothing is counted: the path does not matter.
  if (IsFlagSet(param::kVersion)) return true;
  if (sourcePath.empty() && !pathFailed_ &&
      !platform::MakeFullPath(u".", sourcePath, kSourcePathCapacity)) {
    sourcePath.clear();
  }
  if (sourcePath.empty() || !platform::PathExists(sourcePath)) {
    errorText_ = u"the specified path does not exist.";
    errorCode_ = 0;
    return false;
  }
  // A FIFO or device is never read (it could block or never end): say what it is rather
  // than fail to open it.
  if (platform::IsSpecialFile(sourcePath)) {
    errorText_ = u"the specified path is not a regular file.";
    errorCode_ = 0;
    return false;
  }
  if ((options & option::kCompare) != 0 &&
      (comparePath.empty() || !platform::PathExists(comparePath))) {
    errorText_ = Format(u"the baseline '%s' does not exist.",
                        WithPercentDoubled(PrintableName(compareGiven)));
    errorCode_ = 0;
    return false;
  }
  if (format == OutputFormat::kCsv && (options & option::kLanguages) != 0 &&
      (options & option::kCompare) != 0) {
    // Each makes rows of its own, under a header of its own.
    errorText_ = u"/languages and /compare cannot be combined with /format csv.";
    errorCode_ = 0;
    return false;
  }
  if (!platform::IsDirectory(sourcePath)) options &= ~option::kSubdir;
  return true;
}

BannerTexts CConsole::GetBannerTexts() {
  BannerTexts texts;
  const CConsoleVersionInfo version;
  WString text;
  if (version.GetTitleLine(text)) texts.titleLine = text;
  if (version.GetLegalNotice(text)) texts.legalNotice = text;
  return texts;
}

}  // namespace srctally
