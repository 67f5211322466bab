// The command-line parser of the console frame: switches and values against parameter
// tables, the display switch, and the problem report.
#include "console/base_console.h"
#include "platform/file_system.h"

namespace srctally {
namespace {

constexpr WStringView kValueSeparators = u",;=";

bool IsDecimalDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

// Where '/' separates folders, an absolute path such as /src/net starts like a switch. No
// switch name holds a '/', so a '/' after the first one, before any ':' that starts the
// values, makes the argument a path (a single-component path is written /src/).
bool IsAbsolutePathArgument(WStringView argument) {
  if (platform::PathSeparator() != u'/') return false;
  const WStringView name = argument.substr(1, argument.find(u':', 1) - 1);
  return name.find(u'/') != WStringView::npos;
}

// "/x", or "-x" unless a digit follows the hyphen (-5 is a number, a lone - a switch).
bool IsSwitch(WStringView argument) {
  if (argument.empty()) return false;
  if (argument[0] == u'/') return !IsAbsolutePathArgument(argument);
  return argument[0] == u'-' && !(argument.size() > 1 && IsDecimalDigit(argument[1]));
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

void CBaseConsole::ParseCommandLine(const std::vector<WString>& args) {
  bool seenSwitch = false;
  pendingIndex_.reset();
  for (std::size_t i = 1; i < args.size(); ++i) {
    const WString& argument = args[i];
    if (IsSwitch(argument)) {
      seenSwitch = true;
      FinishPendingSwitch(args);
      HandleSwitch(args, i);
    } else if (pendingIndex_.has_value()) {
      ++pendingCount_;  // one more value of the waiting switch
    } else {
      // Positional arguments must come before every switch.
      RecordResult(argument, seenSwitch ? param::kResultRejected : OnArgument(i, argument));
    }
  }
  FinishPendingSwitch(args);
  if (!Validate()) parameterFlags_ |= param::kFlagHelp;
}

void CBaseConsole::HandleSwitch(const std::vector<WString>& args, std::size_t index) {
  const WStringView argument = args[index];
  const std::size_t colon = argument.find(u':');
  const WStringView asTyped = argument.substr(0, colon);
  const WStringView name = asTyped.substr(1);
  if (name.empty()) {
    RecordResult(asTyped, param::kResultUnknown);
    return;
  }
  if (colon == WStringView::npos) {
    // Values may follow as separate arguments.
    pendingIndex_ = index;
    pendingCount_ = 0;
    return;
  }
  std::vector<WStringView> values;
  std::int32_t result = SplitSwitchValues(argument.substr(colon + 1), values);
  if (result != param::kResultInvalidValue) result = OnSwitch(name, values);
  RecordResult(asTyped, result);
}

void CBaseConsole::FinishPendingSwitch(const std::vector<WString>& args) {
  if (!pendingIndex_.has_value()) return;
  const std::size_t index = *pendingIndex_;
  pendingIndex_.reset();
  const std::vector<WStringView> values(
      args.begin() + static_cast<std::ptrdiff_t>(index + 1),
      args.begin() + static_cast<std::ptrdiff_t>(index + 1 + pendingCount_));
  const WStringView argument = args[index];
  RecordResult(argument, OnSwitch(argument.substr(1), values));
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
  return values.empty() ? row : param::kResultInvalidValue;
}

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
  if (result == param::kResultInvalidValue) {
    invalidValues_ += Format(u"\t%s", argument);
    if (!expectedValues_.empty()) invalidValues_ += Format(u" (expected: %s)", expectedValues_);
    invalidValues_ += u'\n';
    expectedValues_.clear();
  } else if (result == param::kResultUnknown || result == param::kResultRejected) {
    unknownParameters_ += Format(u"\t%s", argument);
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
