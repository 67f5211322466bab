// The console frame's output: display-level gating, queries, banner and usage, and the
// rewritable progress line.
#include "console/base_console.h"

#include <utility>

#include "platform/compact_path.h"
#include "platform/file_system.h"

namespace srctally {
namespace {

constexpr std::size_t kLineReserve = 1024;

// Query buttons in the order they are shown and matched.
struct QueryButton {
  const char16_t* name;
  std::uint32_t bit;
  std::int32_t result;
};
constexpr QueryButton kQueryButtons[] = {
    {u"Ok", msg::kButtonOk, 1},         {u"Yes", msg::kButtonYes, 6},
    {u"No", msg::kButtonNo, 7},         {u"Abort", msg::kButtonAbort, 3},
    {u"Retry", msg::kButtonRetry, 4},   {u"Ignore", msg::kButtonIgnore, 5},
    {u"Cancel", msg::kButtonCancel, 2},
};

bool OffersAnyButton(std::uint32_t flags) {
  for (const QueryButton& button : kQueryButtons) {
    if ((flags & button.bit) != 0) return true;
  }
  return false;
}

// The first offered button whose initial is the key, upper-cased; nullptr when none.
const QueryButton* MatchButton(std::uint32_t flags, char16_t key) {
  const char16_t upper = (key >= u'a' && key <= u'z') ? static_cast<char16_t>(key - 0x20) : key;
  for (const QueryButton& button : kQueryButtons) {
    if ((flags & button.bit) != 0 && button.name[0] == upper) return &button;
  }
  return nullptr;
}

// The program file's name as the usage shows it: last component, no extension, lower case.
WString ProgramName(WStringView modulePath) {
  WStringView name = platform::FindFileName(modulePath);
  const std::size_t dot = name.find_last_of(u'.');
  if (dot != WStringView::npos && dot > 0) name = name.substr(0, dot);
  WString lower(name);
  for (char16_t& ch : lower) ch = AsciiToLower(ch);
  return lower;
}

}  // namespace

CBaseConsole::CBaseConsole(platform::IConsoleSink& sink)
    : isConsole_(sink.IsTerminal()), sink_(sink) {}

CBaseConsole::~CBaseConsole() = default;

void CBaseConsole::WriteCounted(WStringView text) {
  sink_.Write(text);
  sink_.Flush();
  ++outputCount_;
}

void CBaseConsole::Output(WStringView line) {
  if (!progressPath_.empty()) WriteProgress(u"\n");
  if (displayLevel_ >= display::kNormal) WriteCounted(line);
}

void CBaseConsole::ShowChoices(std::uint32_t flags) {
  if (displayLevel_ < display::kNormal) return;
  WriteCounted(u" (");
  bool first = true;
  for (const QueryButton& button : kQueryButtons) {
    if ((flags & button.bit) == 0) continue;
    if (!first) WriteCounted(u"/");
    WriteCounted(button.name);
    first = false;
  }
  WriteCounted(u"): ");
}

std::int32_t CBaseConsole::Prompt(std::uint32_t flags) {
  // Without a button no key could ever end the query.
  if (!OffersAnyButton(flags)) return 0;
  ShowChoices(flags);
  for (;;) {
    const char16_t key = sink_.ReadKey();
    if (key == 0) return 0;  // input closed: no answer will come
    const QueryButton* button = MatchButton(flags, key);
    if (button == nullptr) continue;
    if (displayLevel_ >= display::kNormal) WriteCounted(Format(u"%c\n", key));
    atLineStart_ = true;
    return button->result;
  }
}

BannerTexts CBaseConsole::GetBannerTexts() { return BannerTexts{}; }

void CBaseConsole::ShowBanner() {
  const BannerTexts texts = GetBannerTexts();
  if (texts.titleLine.has_value()) {
    WriteLiteral(*this, *texts.titleLine);
    WriteLine(*this);
  }
  WriteLiteral(*this, GetDescription());
  WriteLine(*this);
  if (texts.legalNotice.has_value()) {
    WriteLiteral(*this, *texts.legalNotice);
    WriteLine(*this);
  }
  WriteLine(*this);
}

WString CBaseConsole::VersionText() {
  BannerTexts texts = GetBannerTexts();
  return texts.titleLine.has_value() ? std::move(*texts.titleLine) : GetDescription();
}

void CBaseConsole::ShowVersion() {
  WriteLiteral(*this, VersionText());
  WriteLine(*this);
}

void CBaseConsole::ShowUsage() {
  WString modulePath;
  if (!platform::GetModuleFilePath(modulePath)) return;
  WriteText(*this, u"Usage:\n\n  ");
  WriteLiteral(*this, ProgramName(modulePath));
  WriteText(*this, u" ");
  WriteLiteral(*this, GetUsage());
}

WString CBaseConsole::ProgressPrefix() const {
  if (progressPath_.empty()) return WString();
  WString prefix;
  if (isConsole_) {
    WString shortened;
    prefix += u'\r';
    AppendPrintableName(prefix, platform::CompactPath(progressPath_, progressWidth_, shortened)
                                    ? shortened
                                    : progressPath_);
  } else {
    AppendPrintableName(prefix, progressPath_);  // a file or pipe gets the full path
  }
  prefix += u": ";
  return prefix;
}

void CBaseConsole::WriteProgressV(WStringView format, FormatArgs args) {
  WString line;
  line.reserve(kLineReserve);
  line += ProgressPrefix();
  AppendFormatV(line, format, args);
  if (!line.empty() && line.back() == u'\n') {
    ClearProgressLine();
    if (displayLevel_ >= display::kProgress) WriteCounted(line);
    progressPath_.clear();
  } else if (displayLevel_ >= display::kProgress && isConsole_) {
    WriteCounted(line);  // an in-place update only makes sense on a console
  }
}

void CBaseConsole::ClearProgressLine() {
  if (displayLevel_ < display::kProgress || !isConsole_) return;
  WString blank(u"\r");
  blank.append(78, u' ');
  blank += u'\r';
  WriteCounted(blank);
}

CConsoleProgressPath::CConsoleProgressPath(CBaseConsole& console, WStringView path)
    : console_(&console) {
  console_->SetProgressPath(path);
}

CConsoleProgressPath::~CConsoleProgressPath() { console_->SetProgressPath(WStringView()); }

}  // namespace srctally
