// What changed between a baseline and the counted tree: files matched by their path,
// differences per file, per language and in total (new minus old).
#pragma once

#include <cstdint>
#include <vector>

#include "report/run_recorder.h"
#include "walk/glob_pattern.h"

namespace srctally {

enum class ChangeKind : std::uint8_t { kAdded, kRemoved, kChanged };

/// A file present on one side only, or on both with different counts. difference is new
/// minus old: an added file's counts, a removed file's counts negated.
struct FileChange {
  ChangeKind kind = ChangeKind::kChanged;
  WString path;
  FileCounts difference;
};

/// The difference of one language between both sides.
struct LanguageChange {
  Language language = Language::kOther;
  CountedGroup difference;  ///< files and counts, new minus old
};

struct Comparison {
  CountedGroup total;  ///< files and counts of the whole tree, new minus old
  /// Every language with a file on either side: by the counted tree's total lines, most
  /// first, then by the baseline's, then by name.
  std::vector<LanguageChange> languages;
  /// The added, removed and changed files, in path order.
  std::vector<FileChange> changes;
  std::int64_t added = 0;
  std::int64_t removed = 0;
  std::int64_t changed = 0;
  std::int64_t unchanged = 0;
};

/// Compares the counted files (now) with the baseline's (before). Paths match as matchCase
/// compares names (exactly, or without regard to case as the platform's file system folds
/// it); the same path twice on one side pairs with its twins on the other in order. Path
/// order is that of the UTF-16 units, folded by matchCase. Reorders both vectors and moves
/// the paths of the files it names out of them.
Comparison CompareFiles(std::vector<FileRecord>& now, std::vector<FileRecord>& before,
                        GlobCase matchCase);

}  // namespace srctally
