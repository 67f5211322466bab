// The counts the documents and tables share per file, per language and for a run, as plain
// numbers: the report's rows and the two amounts, in one fixed order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "counting/line_stats.h"
#include "walk/tree_walk.h"

namespace srctally {

/// The fields of a file's or a language's counts, in the order of the documents.
enum class CountField : std::uint8_t {
  kSize,
  kActual,
  kCode,  ///< code lines that are not directive lines, as the report's row
  kDirective,
  kEmpty,
  kComment,
  kEmptyComment,
  kTotal,
};

inline constexpr std::size_t kCountFieldCount = 8;

/// The names of the fields as the JSON and CSV documents write them, in CountField order.
inline constexpr std::array<std::string_view, kCountFieldCount> kCountFieldNames = {
    "size", "actual", "code", "directive", "empty", "comment", "emptyComment", "total"};

/// The numbers of one file, or sums or differences of them.
struct FileCounts {
  std::array<std::int64_t, kCountFieldCount> values{};

  std::int64_t operator[](CountField field) const {
    return values[static_cast<std::size_t>(field)];
  }
  /// Adds other into these counts (wrapping, never undefined, at the 64-bit limit).
  void Add(const FileCounts& other);
  /// Subtracts other from these counts (wrapping likewise).
  void Subtract(const FileCounts& other);
  bool operator==(const FileCounts&) const = default;
};

/// A file's or run's LineStats as FileCounts.
FileCounts CountsOf(const LineStats& stats);

/// Files and their summed counts.
struct CountedGroup {
  std::int64_t files = 0;
  FileCounts counts;
};

/// One language's files and summed counts.
struct LanguageRow {
  Language language = Language::kOther;
  CountedGroup group;
};

/// Sums counted files per language.
class CLanguageTotals {
 public:
  void Add(Language language, const FileCounts& counts);
  const CountedGroup& Group(Language language) const {
    return groups_[static_cast<std::size_t>(language)];
  }
  /// The languages that have a file, by total lines, most first; ties by name.
  std::vector<LanguageRow> Rows() const;
  /// The sum of every language.
  CountedGroup All() const;

 private:
  std::array<CountedGroup, kLanguageCount> groups_{};
};

}  // namespace srctally
