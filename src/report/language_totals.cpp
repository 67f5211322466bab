// Counts per file and per language.
#include "report/language_totals.h"

#include <algorithm>

namespace srctally {
namespace {

std::int64_t Wrapped(std::uint64_t value) { return static_cast<std::int64_t>(value); }

}  // namespace

void FileCounts::Add(const FileCounts& other) {
  for (std::size_t i = 0; i < kCountFieldCount; ++i) {
    values[i] = Wrapped(static_cast<std::uint64_t>(values[i]) +
                        static_cast<std::uint64_t>(other.values[i]));
  }
}

void FileCounts::Subtract(const FileCounts& other) {
  for (std::size_t i = 0; i < kCountFieldCount; ++i) {
    values[i] = Wrapped(static_cast<std::uint64_t>(values[i]) -
                        static_cast<std::uint64_t>(other.values[i]));
  }
}

FileCounts CountsOf(const LineStats& stats) {
  FileCounts counts;
  counts.values = {stats.size.value,
                   stats.actual.value,
                   Wrapped(static_cast<std::uint64_t>(stats.codeLines) -
                           static_cast<std::uint64_t>(stats.directiveLines)),
                   stats.directiveLines,
                   stats.emptyLines,
                   stats.commentLines,
                   stats.emptyCommentLines,
                   stats.lines};
  return counts;
}

void CLanguageTotals::Add(Language language, const FileCounts& counts) {
  CountedGroup& group = groups_[static_cast<std::size_t>(language)];
  ++group.files;
  group.counts.Add(counts);
}

std::vector<LanguageRow> CLanguageTotals::Rows() const {
  std::vector<LanguageRow> rows;
  for (std::size_t i = 0; i < kLanguageCount; ++i) {
    if (groups_[i].files != 0) rows.push_back({static_cast<Language>(i), groups_[i]});
  }
  std::sort(rows.begin(), rows.end(), [](const LanguageRow& a, const LanguageRow& b) {
    const std::int64_t totalA = a.group.counts[CountField::kTotal];
    const std::int64_t totalB = b.group.counts[CountField::kTotal];
    if (totalA != totalB) return totalA > totalB;
    return LanguageName(a.language) < LanguageName(b.language);
  });
  return rows;
}

CountedGroup CLanguageTotals::All() const {
  CountedGroup all;
  for (const CountedGroup& group : groups_) {
    all.files += group.files;
    all.counts.Add(group.counts);
  }
  return all;
}

}  // namespace srctally
