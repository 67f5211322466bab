// The console report of a walk: the folder lines, a dot or a report block per counted file,
// each folder's file count, the warnings and the errors, through the message writer.
#pragma once

#include "console/message_writer.h"
#include "walk/walk_events.h"

namespace srctally {

class CTextReportSink final : public IWalkSink {
 public:
  /// verbose: the verbose display level (report blocks, file counts of every folder, and
  /// the folders passed over quietly). keepGoing: the walk goes on after a file that cannot
  /// be counted, so its folder's search has not failed.
  CTextReportSink(CMessageWriter& writer, bool verbose, bool keepGoing = false)
      : writer_(writer), verbose_(verbose), keepGoing_(keepGoing) {}

  /// Answers whether the report could not be written; once it answers true, WantsMore
  /// answers false and the walk ends early.
  using OutputFailedQuery = bool (*)(const void* context);
  void SetOutputFailedQuery(OutputFailedQuery query, const void* context) {
    outputFailed_ = query;
    outputContext_ = context;
  }

  void FolderStarted(WStringView relativeFolder) override;
  /// A relativeFolder that is empty means a single file counted on its own.
  void FileCounted(WStringView relativeFolder, WStringView name, const LineStats& file) override;
  void FolderFinished(WStringView relativeFolder, std::int64_t fileCount) override;
  void FolderSkipped(WStringView relativeFolder, FolderSkip reason) override;
  void FileSkipped(WStringView relativeFolder, WStringView name, FileSkip reason) override;
  /// For a file that cannot be counted, the file's error and then the folder's; for a single
  /// file counted on its own (relativeFolder empty), or when the walk goes on, the file's
  /// error alone.
  void WalkFailed(WalkFailure step, WStringView relativeFolder, WStringView argument,
                  HResult code) override;
  bool WantsMore() const override {
    return outputFailed_ == nullptr || !outputFailed_(outputContext_);
  }

 private:
  CMessageWriter& writer_;
  bool verbose_;
  bool keepGoing_;
  OutputFailedQuery outputFailed_ = nullptr;
  const void* outputContext_ = nullptr;
  LineStats file_;  // a copy of the counted file's record, whose texts the report formats
  WString text_;    // the text being written, kept for the next
};

}  // namespace srctally
