// The command-line parser of the console frame: switches and values against parameter
// tables, the display switch, and the problem report.
#include "console/base_console.h"
#include "platform/file_system.h"

namespace srctally {
namespace {

constexpr WStringView kValueSeparators = u",;=";

bool IsDecimalDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

// A switch as typed: "/name", "-name" or "--name", then optionally its values after a ':'
// ("--name" also takes them after a '=', as "--name=value").
struct SwitchText {
  WStringView asTyped;  // up to the character that starts the values
  WStringView name;     // without the switch characters
  bool hasValues = false;
  WStringView values;
  bool longForm = false;  // "--name"; a lone "--" is the switch "-" as always
};

SwitchText SplitSwitch(WStringView argument) {
  SwitchText parts;
  parts.longForm = argument.size() > 2 && argument[0] == u'-' && argument[1] == u'-';
  const std::size_t valuesAt =
      parts.longForm ? argument.find_first_of(u"=:", 2) : argument.find(u':');
  parts.asTyped = argument.substr(0, valuesAt);
  parts.name = parts.asTyped.substr(parts.longForm ? 2 : 1);
  parts.hasValues = valuesAt != WStringView::npos;
  if (parts.hasValues) parts.values = argument.substr(valuesAt + 1);
  return parts;
}

bool StartsWithIgnoringCase(WStringView name, WStringView text) {
  return name.size() >= text.size() && EqualsIgnoreAsciiCase(name.substr(0, text.size()), text);
}

}  // namespace

std::int32_t LookupParameter(WStringView text, ParameterTable table, std::uint32_t* id) {
  for (std::size_t row = 0; row < table.size(); ++row) {
    if (!StartsWithIgnoringCase(table[row].name, text)) continue;
    if (id != nullptr) *id = table[row].id;
    return static_cast<std::int32_t>(row);
  }
  return -1;
}

std::int32_t SplitSwitchValues(WStringView text, std::vector<WStringView>& values) {
  values.clear();
  std::size_t position = 0;
  for (;;) {
    if (values.size() == param::kMaxSwitchValues) return param::kResultInvalidValue;
    std::size_t separator = 0;
    if (position < text.size() && text[position] == u'"') {
      const std::size_t close = text.find(u'"', position + 1);
      if (close == WStringView::npos) return param::kResultInvalidValue;
      values.push_back(text.substr(position + 1, close - position - 1));
      separator = text.find_first_of(kValueSeparators, close + 1);
    } else {
      separator = text.find_first_of(kValueSeparators, position);
      values.push_back(text.substr(
          position, separator == WStringView::npos ? WStringView::npos : separator - position));
    }
    if (separator == WStringView::npos) return 0;
    position = separator + 1;
  }
}

// "/x", or "-x" unless a digit follows the hyphen (-5 is a number, a lone - a switch).
// Where '/' separates folders, an absolute path such as /src/net starts like a switch too:
// a second '/' before any ':' makes the argument a path (no switch name holds a '/'), and so
// does a one-part path such as /tmp when it exists and its name selects no switch. Thus /s
// stays the abbreviation of a switch even where a folder /s exists, and / is the root.
bool CBaseConsole::IsSwitchArgument(WStringView argument) const {
  if (argument.empty()) return false;
  if (argument[0] == u'-') return !(argument.size() > 1 && IsDecimalDigit(argument[1]));
  if (argument[0] != u'/') return false;
  if (platform::PathSeparator() != u'/') return true;
  const WStringView name = argument.substr(1, argument.find(u':', 1) - 1);
  if (name.find(u'/') != WStringView::npos) return false;
  if (!name.empty() && IsSwitchName(name)) return true;
  return !IsExistingPath(argument);
}

void CBaseConsole::ParseCommandLine(const std::vector<WString>& args) {
  pendingIndex_.reset();
  afterRejectedSwitch_ = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const WString& argument = args[i];
    if (IsSwitchArgument(argument)) {
      FinishPendingSwitch(args);
      afterRejectedSwitch_ = false;
      HandleSwitch(args, i);
    } else if (pendingIndex_.has_value()) {
      ++pendingCount_;  // one more value of the waiting switch
      if (pendingCount_ == pendingLimit_) FinishPendingSwitch(args);
    } else if (afterRejectedSwitch_) {
      // Behind a switch this parser could not take, an argument may have been meant for
      // it as well: it is listed with the rejected ones rather than silently taken as the
      // path of a run that will not happen.
      RecordResult(argument, param::kResultRejected);
    } else {
      // Not a value of any switch: a positional argument wherever it stands, so the path
      // typed after /subdir is the path counted.
      RecordResult(argument, OnArgument(i, argument));
    }
  }
  FinishPendingSwitch(args);
  if (!Validate()) parameterFlags_ |= param::kFlagHelp;
}

std::int32_t CBaseConsole::CallOnSwitch(bool longForm, WStringView name,
                                        std::span<const WStringView> values) {
  longFormSwitch_ = longForm;
  const std::int32_t result = OnSwitch(name, values);
  longFormSwitch_ = false;
  return result;
}

void CBaseConsole::HandleSwitch(const std::vector<WString>& args, std::size_t index) {
  const SwitchText parts = SplitSwitch(args[index]);
  if (parts.name.empty()) {
    RecordSwitchResult(parts.asTyped, param::kResultUnknown);
    return;
  }
  if (!parts.hasValues) {
    if (TakesSeparateValues(parts.name)) {
      // Values may follow as separate arguments.
      pendingIndex_ = index;
      pendingCount_ = 0;
      pendingLimit_ = SeparateValueLimit(parts.name);
    } else {
      RecordSwitchResult(parts.asTyped, CallOnSwitch(parts.longForm, parts.name, {}));
    }
    return;
  }
  std::vector<WStringView> values;
  std::int32_t result = 0;
  if (KeepsValueWhole(parts.name)) {
    WStringView whole = parts.values;
    if (whole.size() >= 2 && whole.front() == u'"' && whole.back() == u'"') {
      whole = whole.substr(1, whole.size() - 2);
    }
    values.push_back(whole);
  } else {
    result = SplitSwitchValues(parts.values, values);
  }
  if (result != param::kResultInvalidValue)
    result = CallOnSwitch(parts.longForm, parts.name, values);
  RecordSwitchResult(parts.asTyped, result);
}

void CBaseConsole::FinishPendingSwitch(const std::vector<WString>& args) {
  if (!pendingIndex_.has_value()) return;
  const std::size_t index = *pendingIndex_;
  pendingIndex_.reset();
  const std::vector<WStringView> values(
      args.begin() + static_cast<std::ptrdiff_t>(index + 1),
      args.begin() + static_cast<std::ptrdiff_t>(index + 1 + pendingCount_));
  const SwitchText parts = SplitSwitch(args[index]);
  RecordSwitchResult(parts.asTyped, CallOnSwitch(parts.longForm, parts.name, values));
}

void CBaseConsole::RecordSwitchResult(WStringView argument, std::int32_t result) {
  afterRejectedSwitch_ = result == param::kResultUnknown || result == param::kResultRejected ||
                         result == param::kResultInvalidValue;
  RecordResult(argument, result);
}

std::int32_t CBaseConsole::OnArgument(std::size_t /*index*/, WStringView /*text*/) {
  return param::kResultRejected;
}

std::int32_t CBaseConsole::OnSwitch(WStringView name, std::span<const WStringView> values) {
  std::uint32_t id = 0;
  const std::int32_t row = LookupParameter(name, kFrameworkParameters, &id);
  if (row < 0) return row;
  SetFlag(id);  // recognised, whatever its values
  if (id == param::kDisplay) return OnDisplayParameter(values);
  if (id == param::kHelp && longFormSwitch_) helpAskedLongForm_ = true;
  return values.empty() ? row : param::kResultInvalidValue;
}

bool CBaseConsole::TakesSeparateValues(WStringView name) const {
  std::uint32_t id = 0;
  if (LookupParameter(name, kFrameworkParameters, &id) < 0) return true;
  // Help takes none, so what follows it becomes its invalid value instead of a path that
  // the usage answer would pass over unseen.
  return id == param::kDisplay || id == param::kHelp;
}

bool CBaseConsole::KeepsValueWhole(WStringView /*name*/) const { return false; }

std::size_t CBaseConsole::SeparateValueLimit(WStringView /*name*/) const {
  return static_cast<std::size_t>(-1);
}

bool CBaseConsole::IsSwitchName(WStringView name) const {
  return LookupParameter(name, kFrameworkParameters) >= 0;
}

bool CBaseConsole::IsExistingPath(WStringView path) const { return platform::PathExists(path); }

std::int32_t CBaseConsole::OnDisplayParameter(std::span<const WStringView> values) {
  if (values.size() > 2) return param::kResultInvalidValue;
  if (!values.empty() && !values[0].empty()) {
    std::uint32_t level = 0;
    if (LookupParameter(values[0], kDisplayLevels, &level) < 0 ||
        (allowedLevels_ & level) != level) {
      BuildExpectedList(kDisplayLevels, allowedLevels_);
      return param::kResultInvalidValue;
    }
    displayLevel_ = level;
  }
  if (values.size() == 2 && !values[1].empty()) {
    std::uint32_t mode = 0;
    if (LookupParameter(values[1], kTranslationModes, &mode) < 0) {
      BuildExpectedList(kTranslationModes, 0);
      return param::kResultInvalidValue;
    }
    sink_.SetMode(mode);
  }
  return 0;
}

void CBaseConsole::BuildExpectedList(ParameterTable table, std::uint32_t mask) {
  if (mask == 0) mask = ~0u;
  expectedValues_.clear();
  for (const ParameterEntry& row : table) {
    if ((row.id & mask) != row.id) continue;
    if (!expectedValues_.empty()) expectedValues_ += u',';
    expectedValues_ += row.name;
  }
}

void CBaseConsole::RecordResult(WStringView argument, std::int32_t result) {
  // An argument is echoed with its control characters shown as '?', as names are: it
  // must not drive the terminal.
  if (result == param::kResultInvalidValue) {
    invalidValues_ += Format(u"\t%s", PrintableName(argument));
    if (!expectedValues_.empty()) invalidValues_ += Format(u" (expected: %s)", expectedValues_);
    invalidValues_ += u'\n';
    expectedValues_.clear();
  } else if (result == param::kResultUnknown || result == param::kResultRejected) {
    unknownParameters_ += Format(u"\t%s", PrintableName(argument));
    unknownParameters_ += u'\n';
    parameterFlags_ |= param::kFlagHelp;
  }
}

bool CBaseConsole::Validate() { return (parameterFlags_ & param::kFlagHelp) == 0; }

bool CBaseConsole::SetFlag(std::uint32_t id) {
  if (param::Group(id) != param::kGroupFramework) return false;
  parameterFlags_ |= param::FlagBit(id);
  return true;
}

bool CBaseConsole::ClearFlag(std::uint32_t id) {
  if (param::Group(id) != param::kGroupFramework) return false;
  parameterFlags_ &= ~param::FlagBit(id);
  return true;
}

bool CBaseConsole::IsFlagSet(std::uint32_t id) const {
  return param::Group(id) == param::kGroupFramework && (parameterFlags_ & param::FlagBit(id)) != 0;
}

bool CBaseConsole::HasProblems() const {
  return (parameterFlags_ & param::kFlagHelp) != 0 || !invalidValues_.empty() ||
         !unknownParameters_.empty() || !errorText_.empty();
}

void CBaseConsole::WriteSeparator() {
  if (outputCount_ > 0 && displayLevel_ >= display::kNormal) {
    sink_.Write(u"\n");
    sink_.Flush();
  }
  outputCount_ = 0;
}

bool CBaseConsole::UsageIsTheAnswer() const {
  return helpAskedLongForm_ && invalidValues_.empty() && unknownParameters_.empty() &&
         errorText_.empty();
}

bool CBaseConsole::VersionIsTheAnswer() const {
  return IsFlagSet(param::kVersion) && !HasProblems();
}

bool CBaseConsole::ReportProblems() {
  outputCount_ = 0;
  bool reported = false;
  if ((parameterFlags_ & param::kFlagHelp) != 0) {
    ShowUsage();
    reported = true;
  }
  WriteSeparator();
  if (!invalidValues_.empty()) {
    WriteText(*this, u"Invalid parameter value(s):\n\n");
    WriteLiteral(*this, invalidValues_);
    reported = true;
  }
  WriteSeparator();
  if (!unknownParameters_.empty()) {
    WriteText(*this, u"Unknown parameter(s):\n\n");
    WriteLiteral(*this, unknownParameters_);
    reported = true;
  }
  WriteSeparator();
  if (!errorText_.empty()) {
    WriteError(*this, errorText_, errorCode_);
    reported = true;
  }
  WriteSeparator();
  return reported;
}

}  // namespace srctally
