// Matching two lists of counted files by path.
#include "report/comparison.h"

#include <algorithm>
#include <utility>

namespace srctally {
namespace {

// Orders paths by their units, folded as matchCase folds names; ties (paths equal when
// folded) by their exact units, so the order never depends on the input order.
struct PathOrder {
  GlobCase matchCase;

  int Compare(WStringView a, WStringView b) const {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
      const char32_t x = matchCase.Upper(a[i]);
      const char32_t y = matchCase.Upper(b[i]);
      if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return 0;
  }
  bool operator()(const FileRecord& a, const FileRecord& b) const {
    const int order = Compare(a.path, b.path);
    return order != 0 ? order < 0 : a.path < b.path;
  }
};

FileCounts Negated(const FileCounts& counts) {
  FileCounts negated;
  negated.Subtract(counts);
  return negated;
}

}  // namespace

Comparison CompareFiles(std::vector<FileRecord>& now, std::vector<FileRecord>& before,
                        GlobCase matchCase) {
  const PathOrder order{matchCase};
  std::sort(now.begin(), now.end(), order);
  std::sort(before.begin(), before.end(), order);

  Comparison result;
  CLanguageTotals nowLanguages;
  CLanguageTotals beforeLanguages;
  for (const FileRecord& file : now) nowLanguages.Add(file.language, file.counts);
  for (const FileRecord& file : before) beforeLanguages.Add(file.language, file.counts);

  // The files' paths move into the changes: the records serve nothing afterwards.
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < now.size() || j < before.size()) {
    const int side = i == now.size()      ? 1
                     : j == before.size() ? -1
                                          : order.Compare(now[i].path, before[j].path);
    if (side < 0) {
      result.changes.push_back({ChangeKind::kAdded, std::move(now[i].path), now[i].counts});
      ++result.added;
      ++i;
    } else if (side > 0) {
      result.changes.push_back(
          {ChangeKind::kRemoved, std::move(before[j].path), Negated(before[j].counts)});
      ++result.removed;
      ++j;
    } else {
      if (now[i].counts == before[j].counts) {
        ++result.unchanged;
      } else {
        FileCounts difference = now[i].counts;
        difference.Subtract(before[j].counts);
        result.changes.push_back({ChangeKind::kChanged, std::move(now[i].path), difference});
        ++result.changed;
      }
      ++i;
      ++j;
    }
  }

  const CountedGroup nowAll = nowLanguages.All();
  const CountedGroup beforeAll = beforeLanguages.All();
  result.total.files =
      static_cast<std::int64_t>(now.size()) - static_cast<std::int64_t>(before.size());
  result.total.counts = nowAll.counts;
  result.total.counts.Subtract(beforeAll.counts);

  for (std::size_t k = 0; k < kLanguageCount; ++k) {
    const auto language = static_cast<Language>(k);
    const CountedGroup& mine = nowLanguages.Group(language);
    const CountedGroup& theirs = beforeLanguages.Group(language);
    if (mine.files == 0 && theirs.files == 0) continue;
    LanguageChange change{language, {mine.files - theirs.files, mine.counts}};
    change.difference.counts.Subtract(theirs.counts);
    result.languages.push_back(change);
  }
  std::sort(result.languages.begin(), result.languages.end(),
            [&](const LanguageChange& a, const LanguageChange& b) {
              const auto total = [](const CLanguageTotals& side, Language language) {
                return side.Group(language).counts[CountField::kTotal];
              };
              if (total(nowLanguages, a.language) != total(nowLanguages, b.language)) {
                return total(nowLanguages, a.language) > total(nowLanguages, b.language);
              }
              if (total(beforeLanguages, a.language) != total(beforeLanguages, b.language)) {
                return total(beforeLanguages, a.language) > total(beforeLanguages, b.language);
              }
              return LanguageName(a.language) < LanguageName(b.language);
            });
  return result;
}

}  // namespace srctally
