// The user's exclude patterns.
#include "walk/exclude_filter.h"

namespace srctally {

CExcludeFilter::CExcludeFilter(GlobCase matchCase, bool backslashSeparates)
    : case_(matchCase), backslashSeparates_(backslashSeparates) {}

bool CExcludeFilter::Add(WStringView pattern) {
  WString text(pattern);
  if (backslashSeparates_) {
    for (char16_t& ch : text) ch = ch == u'\\' ? u'/' : ch;
  }
  bool foldersOnly = false;
  while (!text.empty() && text.back() == u'/') {
    text.pop_back();
    foldersOnly = true;
  }
  // A leading "/" or "./" anchors the pattern at the source folder and is not matched.
  bool anchored = false;
  for (;;) {
    if (!text.empty() && text[0] == u'/') {
      text.erase(0, 1);
    } else if (text.size() >= 2 && text[0] == u'.' && text[1] == u'/') {
      text.erase(0, 2);
    } else {
      break;
    }
    anchored = true;
  }
  if (text.empty() || text == u".") return false;
  const bool wholePath = anchored || text.find(u'/') != WString::npos;
  rules_.push_back(Rule{WString(pattern), CGlobPattern(text, case_), wholePath, foldersOnly});
  anyWholePath_ = anyWholePath_ || wholePath;
  return true;
}

void CExcludeFilter::EnterFolder(WStringView relativePath, ReadFolderFile /*readFile*/,
                                 void* /*context*/) {
  path_.Enter({}, relativePath);
}

void CExcludeFilter::LeaveFolder() { path_.Leave(); }

bool CExcludeFilter::Excludes(WStringView name, bool isFolder) {
  const WStringView path = anyWholePath_ ? path_.Entry(name) : WStringView();
  for (const Rule& rule : rules_) {
    if (rule.foldersOnly && !isFolder) continue;
    if (rule.pattern.Matches(rule.wholePath ? path : name, true)) return true;
  }
  return false;
}

}  // namespace srctally
