// The ignore filter with any ignore files and names. The first byte holds the options
// (case folded with the tests' table); the rest is split at NUL bytes into the source
// folder's path below the repository root, the repository's info/exclude, the root's
// .gitignore, the source folder's .gitignore, and then the entries: one per line, a folder
// when it ends with '/', entered when the filter keeps it and left at a line "..". Checks
// that ".git" is always passed over and that everything ends; the run's time limit per input
// catches rules that backtrack without bound.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "testing/name_case.h"
#include "walk/git_ignore.h"

namespace {

std::string_view Next(std::string_view& rest) {
  const std::size_t split = rest.find('\0');
  const std::string_view part = rest.substr(0, split);
  rest.remove_prefix(split == std::string_view::npos ? rest.size() : split + 1);
  return part;
}

bool ReadTopFile(void* context, srctally::WStringView, std::string& text) {
  const auto* bytes = static_cast<const std::string_view*>(context);
  if (bytes->empty()) return false;
  text.assign(*bytes);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace srctally;
  if (size < 1) return 0;
  const GlobCase matchCase = (data[0] & 1) != 0 ? testing::TestNameCase() : GlobCase();
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const WString prefix = FromUtf8Lossless(Next(rest));
  const std::string_view exclude = Next(rest);
  const std::vector<std::string> above = {std::string(Next(rest))};
  std::string_view top = Next(rest);

  CGitIgnoreFilter filter(matchCase);
  filter.SetRepository(prefix, above, exclude);
  filter.EnterFolder(u"", &ReadTopFile, &top);
  std::vector<WString> folders = {u""};
  while (!rest.empty()) {
    const std::size_t lineEnd = rest.find('\n');
    const std::string_view line = rest.substr(0, lineEnd);
    rest.remove_prefix(lineEnd == std::string_view::npos ? rest.size() : lineEnd + 1);
    if (line == "..") {
      if (folders.size() > 1) {
        filter.LeaveFolder();
        folders.pop_back();
      }
      continue;
    }
    const bool isFolder = line.ends_with('/');
    const WString name = FromUtf8Lossless(line.substr(0, line.size() - (isFolder ? 1 : 0)));
    if (name.empty() || name.find(u'/') != WString::npos) continue;
    const bool excluded = filter.Excludes(name, isFolder);
    if (name == u".git" && !excluded) std::abort();
    if (isFolder && !excluded && folders.size() < 64) {
      WString path = folders.back().empty() ? name : folders.back() + u"/" + name;
      filter.EnterFolder(path, &ReadTopFile, &top);
      folders.push_back(std::move(path));
    }
  }
  while (folders.size() > 1) {
    filter.LeaveFolder();
    folders.pop_back();
  }
  filter.LeaveFolder();
  return 0;
}
