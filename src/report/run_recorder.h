// A reader of the walk that sums the counted files per language and, for a comparison,
// keeps every file's path and counts, while it hands each event on to the run's report.
#pragma once

#include <optional>
#include <vector>

#include "base/text.h"
#include "report/language_totals.h"
#include "walk/walk_events.h"

namespace srctally {

/// A counted file: its path below the source path (the platform's separators, none in
/// front; the name alone for a single file), its language and its counts.
struct FileRecord {
  WString path;
  Language language = Language::kOther;
  FileCounts counts;
};

/// The first failure of a walk, as the walk told it.
struct RecordedFailure {
  WalkFailure step = WalkFailure::kProcessFile;
  WString relativeFolder;
  WString argument;
  HResult code = 0;
};

class CRunRecorder final : public IWalkSink {
 public:
  /// next: the sink that gets every event after the recorder (nullptr for none).
  /// keepFiles: keep a FileRecord of every counted file.
  CRunRecorder(IWalkSink* next, char16_t separator, bool keepFiles)
      : next_(next), separator_(separator), keepFiles_(keepFiles) {}

  void FolderStarted(WStringView relativeFolder) override;
  void FileCounted(WStringView relativeFolder, WStringView name, const LineStats& file) override;
  void FolderFinished(WStringView relativeFolder, std::int64_t fileCount) override;
  void FolderSkipped(WStringView relativeFolder, FolderSkip reason) override;
  void FileSkipped(WStringView relativeFolder, WStringView name, FileSkip reason) override {
    if (next_ != nullptr) next_->FileSkipped(relativeFolder, name, reason);
  }
  void WalkFailed(WalkFailure step, WStringView relativeFolder, WStringView argument,
                  HResult code) override;
  bool WantsMore() const override { return next_ == nullptr || next_->WantsMore(); }

  const CLanguageTotals& languages() const { return languages_; }
  /// The kept files in walk order (empty unless keepFiles); the caller may take them.
  std::vector<FileRecord>& files() { return files_; }
  const std::optional<RecordedFailure>& failure() const { return failure_; }

 private:
  IWalkSink* next_;
  char16_t separator_;
  bool keepFiles_;
  CLanguageTotals languages_;
  std::vector<FileRecord> files_;
  std::optional<RecordedFailure> failure_;
};

}  // namespace srctally
