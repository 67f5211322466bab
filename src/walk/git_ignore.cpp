// Ignore files read the way git reads them, and the repository around the source folder.
#include "walk/git_ignore.h"

#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/last_error.h"

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

}  // namespace

struct CGitIgnoreFilter::Rule {
  // A rule with a '/' compares its leading run without wildcards as text and matches the
  // rest of the path with the rest of the pattern, as git does; a "**" right after that run
  // therefore stands at the start of a pattern ("a**/b" matches "a/b", "ab" and "ax/y/b").
  // A rule without one matches the name with the whole pattern, and literal is empty.
  std::string literal;
  CByteGlobPattern pattern;
  std::uint32_t baseLength;  // length of the path of the folder whose file holds the rule
  bool negative;             // "!pattern": takes an entry back in
  bool foldersOnly;          // "pattern/": matches folders only
  bool nameOnly;             // no '/' inside: matches the name at any depth below its folder

  bool Matches(std::string_view path, std::string_view name, bool isFolder,
               GlobCase matchCase) const {
    if (foldersOnly && !isFolder) return false;
    if (nameOnly) return pattern.Matches(name, false);
    const std::size_t skip = baseLength == 0 ? 0 : baseLength + 1;
    if (path.size() <= skip) return false;
    path.remove_prefix(skip);
    const std::size_t matched = matchCase.PrefixLength(path, literal);
    return matched != std::string_view::npos && pattern.Matches(path.substr(matched), true);
  }
};

namespace {

using Rule = CGitIgnoreFilter::Rule;

void AddRule(std::string_view line, std::uint32_t baseLength, GlobCase matchCase,
             std::vector<Rule>& rules) {
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
  std::size_t literal = 0;
  if (!nameOnly) {
    while (literal < line.size() && !IsGlobSpecial(static_cast<unsigned char>(line[literal]))) {
      ++literal;
    }
  }
  rules.push_back(Rule{std::string(line.substr(0, literal)),
                       CByteGlobPattern(line.substr(literal), matchCase), baseLength, negative,
                       foldersOnly, nameOnly});
}

void ParseIgnoreFile(std::string_view bytes, std::uint32_t baseLength, GlobCase matchCase,
                     std::vector<Rule>& rules) {
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

bool IsGitFolderName(std::string_view name, GlobCase matchCase) {
  return matchCase.Equal(name, std::string_view(".git"));
}

}  // namespace

CGitIgnoreFilter::CGitIgnoreFilter(GlobCase matchCase) : case_(matchCase) {}

CGitIgnoreFilter::~CGitIgnoreFilter() = default;

void CGitIgnoreFilter::SetRepository(WStringView sourcePrefix,
                                     std::span<const std::string> ancestorIgnoreFiles,
                                     std::string_view excludeFile) {
  rules_.clear();
  excludeRules_.clear();
  sourceIgnored_ = false;
  ParseIgnoreFile(excludeFile, 0, case_, excludeRules_);
  // Walk down from the root as git would: each folder on the way is checked against the
  // rules of the folders above it before its own .gitignore counts. Empty parts (a doubled
  // or leading '/') name no folder and are skipped.
  const std::string given = ToUtf8(sourcePrefix);
  prefix_.clear();
  std::size_t level = 0;
  for (std::size_t start = 0;; ++level) {
    if (level < ancestorIgnoreFiles.size()) {
      ParseIgnoreFile(ancestorIgnoreFiles[level], static_cast<std::uint32_t>(prefix_.size()), case_,
                      rules_);
    }
    while (start < given.size() && given[start] == '/') ++start;
    if (start == given.size()) break;
    std::size_t end = given.find('/', start);
    if (end == std::string::npos) end = given.size();
    if (!prefix_.empty()) prefix_.push_back('/');
    const std::size_t nameStart = prefix_.size();
    prefix_.append(given, start, end - start);
    const std::string_view path(prefix_);
    if (IsGitFolderName(path.substr(nameStart), case_) ||
        IsIgnored(path, path.substr(nameStart), true)) {
      sourceIgnored_ = true;
    }
    start = end;
  }
}

void CGitIgnoreFilter::EnterFolder(WStringView relativePath, ReadFolderFile readFile,
                                   void* context) {
  path_.assign(prefix_);
  if (!prefix_.empty() && !relativePath.empty()) path_.push_back('/');
  AppendUtf8(path_, relativePath);
  folderLengths_.push_back(path_.size());
  folderFirstRule_.push_back(rules_.size());
  fileBytes_.clear();
  if (!sourceIgnored_ && readFile != nullptr && readFile(context, kIgnoreFileName, fileBytes_)) {
    ParseIgnoreFile(fileBytes_, static_cast<std::uint32_t>(path_.size()), case_, rules_);
  }
}

void CGitIgnoreFilter::LeaveFolder() {
  if (folderFirstRule_.empty()) return;
  rules_.erase(rules_.begin() + static_cast<std::ptrdiff_t>(folderFirstRule_.back()), rules_.end());
  folderFirstRule_.pop_back();
  folderLengths_.pop_back();
}

bool CGitIgnoreFilter::Excludes(WStringView name, bool isFolder) {
  if (sourceIgnored_) return true;
  const std::size_t folderLength = folderLengths_.empty() ? 0 : folderLengths_.back();
  path_.resize(folderLength);
  if (folderLength != 0) path_.push_back('/');
  const std::size_t nameStart = path_.size();
  AppendUtf8(path_, name);
  const std::string_view path(path_);
  const std::string_view nameBytes = path.substr(nameStart);
  return IsGitFolderName(nameBytes, case_) || IsIgnored(path, nameBytes, isFolder);
}

bool CGitIgnoreFilter::IsIgnored(std::string_view path, std::string_view name,
                                 bool isFolder) const {
  // The last matching rule of the deepest file decides, then info/exclude.
  for (auto rule = rules_.rbegin(); rule != rules_.rend(); ++rule) {
    if (rule->Matches(path, name, isFolder, case_)) return !rule->negative;
  }
  for (auto rule = excludeRules_.rbegin(); rule != excludeRules_.rend(); ++rule) {
    if (rule->Matches(path, name, isFolder, case_)) return !rule->negative;
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// The repository around the source folder.

namespace {

// Files larger than this are not ignore files anyone wrote; they are not read.
constexpr std::int64_t kMaxIgnoreFileSize = 16 * 1024 * 1024;

// refuseLink: a symbolic link at path is not read (git reads no .gitignore through one).
bool ReadWholeFile(WStringView path, std::string& bytes, bool refuseLink = false) {
  bytes.clear();
  platform::File file;
  platform::FileOpenMode mode;
  mode.refuseLink = refuseLink;
  if (!file.Open(platform::FileLocation{path}, mode)) return false;
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
    const WString ignoreFile = JoinPath(folder, kIgnoreFileName);
    if (!ReadWholeFile(ignoreFile, bytes, true)) {
      if (platform::GetLastErrorCode() == win32err::kCantResolveFilename) {
        result.linkedIgnoreFiles.push_back(ignoreFile);
      }
      bytes.clear();
    }
    result.ancestorIgnoreFiles.push_back(bytes);
    folder = JoinPath(folder, *name);
    if (!result.sourcePrefix.empty()) result.sourcePrefix.push_back(u'/');
    result.sourcePrefix.append(*name);
  }
  return result;
}

}  // namespace srctally
