// Ignore files read the way git reads them, and the repository around the source folder.
#include "input/git_ignore.h"

#include "platform/file.h"
#include "platform/file_system.h"

namespace srctally {
namespace {

constexpr WStringView kIgnoreFileName = u".gitignore";
constexpr WStringView kGitName = u".git";

// Drops trailing blanks (spaces only) that no backslash escapes. A line that ends in a lone
// backslash keeps its blanks.
std::string_view TrimTrailingBlanks(std::string_view line) {
  std::size_t end = line.size();
  std::size_t firstTrailingBlank = std::string_view::npos;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ' ') {
      if (firstTrailingBlank == std::string_view::npos) firstTrailingBlank = i;
      continue;
    }
    if (line[i] == '\\' && ++i == line.size()) return line;
    firstTrailingBlank = std::string_view::npos;
  }
  if (firstTrailingBlank != std::string_view::npos) end = firstTrailingBlank;
  return line.substr(0, end);
}

void AddRule(std::string_view line, std::uint32_t baseLength, GlobCase matchCase,
             std::vector<IgnoreRule>& rules) {
  bool negative = false;
  if (!line.empty() && line[0] == '!') {
    negative = true;
    line.remove_prefix(1);
  }
  bool foldersOnly = false;
  if (!line.empty() && line.back() == '/') {
    foldersOnly = true;
    line.remove_suffix(1);
  }
  const bool nameOnly = line.find('/') == std::string_view::npos;
  // A rule with a '/' is matched against the path below its folder; a leading '/' only
  // says so.
  if (!nameOnly && line[0] == '/') line.remove_prefix(1);
  if (line.empty()) return;
  rules.push_back(IgnoreRule{CGlobPattern(FromUtf8Lossless(line), matchCase), baseLength, negative,
                             foldersOnly, nameOnly});
}

bool EqualNames(WStringView a, WStringView b, GlobCase matchCase) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char16_t x = matchCase.ignoreCase ? FoldNameCase(a[i]) : a[i];
    const char16_t y = matchCase.ignoreCase ? FoldNameCase(b[i]) : b[i];
    if (x != y) return false;
  }
  return true;
}

bool RuleMatches(const IgnoreRule& rule, WStringView path, WStringView name, bool isFolder) {
  if (rule.foldersOnly && !isFolder) return false;
  if (rule.nameOnly) return rule.pattern.Matches(name, false);
  const std::size_t skip = rule.baseLength == 0 ? 0 : rule.baseLength + 1;
  return path.size() > skip && rule.pattern.Matches(path.substr(skip), true);
}

}  // namespace

void ParseIgnoreFile(std::string_view bytes, std::uint32_t baseLength, GlobCase matchCase,
                     std::vector<IgnoreRule>& rules) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  while (!bytes.empty()) {
    const std::size_t lineEnd = bytes.find('\n');
    std::string_view line = bytes.substr(0, lineEnd);
    bytes.remove_prefix(lineEnd == std::string_view::npos ? bytes.size() : lineEnd + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    AddRule(TrimTrailingBlanks(line), baseLength, matchCase, rules);
  }
}

CGitIgnoreFilter::CGitIgnoreFilter(GlobCase matchCase) : case_(matchCase) {}

void CGitIgnoreFilter::SetRepository(WStringView sourcePrefix,
                                     std::span<const std::string> ancestorIgnoreFiles,
                                     std::string_view excludeFile) {
  prefix_ = sourcePrefix;
  rules_.clear();
  excludeRules_.clear();
  sourceIgnored_ = false;
  ParseIgnoreFile(excludeFile, 0, case_, excludeRules_);
  // Walk down from the root as git would: each folder on the way is checked against the
  // rules of the folders above it before its own .gitignore counts.
  std::size_t folderEnd = 0;  // end of the path of the folder reached so far ("" = root)
  std::size_t level = 0;
  for (;;) {
    if (level < ancestorIgnoreFiles.size()) {
      ParseIgnoreFile(ancestorIgnoreFiles[level], static_cast<std::uint32_t>(folderEnd), case_,
                      rules_);
    }
    if (folderEnd == prefix_.size()) break;
    const std::size_t nameStart = folderEnd == 0 ? 0 : folderEnd + 1;
    std::size_t nameEnd = prefix_.find(u'/', nameStart);
    if (nameEnd == WString::npos) nameEnd = prefix_.size();
    const WStringView path = WStringView(prefix_).substr(0, nameEnd);
    const WStringView name = path.substr(nameStart);
    if (IsGitFolderName(name) || IsIgnored(path, name, true)) sourceIgnored_ = true;
    folderEnd = nameEnd;
    ++level;
  }
}

void CGitIgnoreFilter::EnterFolder(WStringView relativePath, ReadFolderFile readFile,
                                   void* context) {
  path_.Enter(prefix_, relativePath);
  folderFirstRule_.push_back(rules_.size());
  fileBytes_.clear();
  if (!sourceIgnored_ && readFile != nullptr && readFile(context, kIgnoreFileName, fileBytes_)) {
    ParseIgnoreFile(fileBytes_, static_cast<std::uint32_t>(path_.Folder().size()), case_, rules_);
  }
}

void CGitIgnoreFilter::LeaveFolder() {
  if (folderFirstRule_.empty()) return;
  rules_.erase(rules_.begin() + static_cast<std::ptrdiff_t>(folderFirstRule_.back()), rules_.end());
  folderFirstRule_.pop_back();
  path_.Leave();
}

bool CGitIgnoreFilter::Excludes(WStringView name, bool isFolder) {
  if (sourceIgnored_ || IsGitFolderName(name)) return true;
  return IsIgnored(path_.Entry(name), name, isFolder);
}

bool CGitIgnoreFilter::IsGitFolderName(WStringView name) const {
  return EqualNames(name, kGitName, case_);
}

bool CGitIgnoreFilter::IsIgnored(WStringView path, WStringView name, bool isFolder) const {
  // The last matching rule of the deepest file decides, then info/exclude.
  for (auto rule = rules_.rbegin(); rule != rules_.rend(); ++rule) {
    if (RuleMatches(*rule, path, name, isFolder)) return !rule->negative;
  }
  for (auto rule = excludeRules_.rbegin(); rule != excludeRules_.rend(); ++rule) {
    if (RuleMatches(*rule, path, name, isFolder)) return !rule->negative;
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// The repository around the source folder.

namespace {

// Files larger than this are not ignore files anyone wrote; they are not read.
constexpr std::int64_t kMaxIgnoreFileSize = 16 * 1024 * 1024;

bool ReadWholeFile(WStringView path, std::string& bytes) {
  bytes.clear();
  platform::File file;
  if (!file.Open(platform::FileLocation{path}, platform::FileOpenMode{})) return false;
  std::int64_t size = 0;
  if (!file.GetSize(size) || size > kMaxIgnoreFileSize) return false;
  bytes.resize(static_cast<std::size_t>(size));
  std::size_t total = 0;
  while (total < bytes.size()) {
    std::size_t read = 0;
    if (!file.Read(bytes.data() + total, bytes.size() - total, read)) return false;
    if (read == 0) break;
    total += read;
  }
  bytes.resize(total);
  return true;
}

bool IsSeparator(char16_t ch) { return ch == u'/' || ch == platform::PathSeparator(); }

WString JoinPath(WStringView folder, WStringView name) {
  WString path(folder);
  if (!path.empty() && !IsSeparator(path.back())) path.push_back(platform::PathSeparator());
  path.append(name);
  return path;
}

// Drops a trailing separator: "/home/" becomes "/home", but "/" and "C:\" stay roots.
void DropTrailingSeparator(WString& path) {
  while (path.size() > 1 && IsSeparator(path.back()) &&
         !platform::FindFileName(WStringView(path).substr(0, path.size() - 1)).empty()) {
    path.pop_back();
  }
}

// The folder that holds path, or "" when path is a root.
WString ParentFolder(WStringView path) {
  const WStringView name = platform::FindFileName(path);
  if (name.empty()) return {};
  WString parent(path.substr(0, path.size() - name.size()));
  DropTrailingSeparator(parent);
  return parent;
}

bool IsAbsolutePath(WStringView path) {
  return (!path.empty() && IsSeparator(path[0])) || (path.size() >= 2 && path[1] == u':');
}

WStringView TrimmedLine(const std::string& bytes, std::string_view prefix, WString& out) {
  std::string_view line(bytes);
  line = line.substr(0, line.find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
  if (!line.starts_with(prefix)) return {};
  line.remove_prefix(prefix.size());
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  out = FromUtf8Lossless(line);
  return out;
}

// The repository's shared folder, where info/exclude lives, for the root's ".git": the
// folder itself, or the folder a ".git" file names (a linked worktree or a submodule), and
// from a worktree's folder on to the folder its "commondir" names.
WString CommonGitFolder(WStringView root) {
  WString gitPath = JoinPath(root, kGitName);
  if (platform::IsDirectory(gitPath)) return gitPath;
  std::string bytes;
  WString named;
  if (!ReadWholeFile(gitPath, bytes) || TrimmedLine(bytes, "gitdir:", named).empty()) return {};
  WString gitFolder = IsAbsolutePath(named) ? named : JoinPath(root, named);
  WString common;
  if (ReadWholeFile(JoinPath(gitFolder, u"commondir"), bytes) &&
      !TrimmedLine(bytes, "", common).empty()) {
    return IsAbsolutePath(common) ? common : JoinPath(gitFolder, common);
  }
  return gitFolder;
}

}  // namespace

RepositoryIgnores LoadRepositoryIgnores(WStringView sourcePath) {
  RepositoryIgnores result;
  // Names of the folders from the source folder up to (not including) the root.
  std::vector<WString> names;
  WString folder(sourcePath);
  DropTrailingSeparator(folder);
  for (;;) {
    if (platform::PathExists(JoinPath(folder, kGitName))) break;
    const WStringView name = platform::FindFileName(folder);
    if (name.empty()) return result;
    names.emplace_back(name);
    folder = ParentFolder(folder);
    if (folder.empty()) return result;
  }
  result.found = true;
  std::string bytes;
  const WString common = CommonGitFolder(folder);
  if (!common.empty() && ReadWholeFile(JoinPath(JoinPath(common, u"info"), u"exclude"), bytes)) {
    result.excludeFile = bytes;
  }
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    if (!ReadWholeFile(JoinPath(folder, kIgnoreFileName), bytes)) bytes.clear();
    result.ancestorIgnoreFiles.push_back(bytes);
    folder = JoinPath(folder, *name);
    if (!result.sourcePrefix.empty()) result.sourcePrefix.push_back(u'/');
    result.sourcePrefix.append(*name);
  }
  return result;
}

}  // namespace srctally
