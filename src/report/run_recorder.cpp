// The walk reader that sums languages and keeps files for a comparison.
#include "report/run_recorder.h"

#include "report/machine_report.h"

namespace srctally {

void CRunRecorder::FolderStarted(WStringView relativeFolder) {
  if (next_ != nullptr) next_->FolderStarted(relativeFolder);
}

void CRunRecorder::FileCounted(WStringView relativeFolder, WStringView name,
                               const LineStats& file) {
  const Language language = LanguageOfFile(name, separator_);
  const FileCounts counts = CountsOf(file);
  languages_.Add(language, counts);
  if (keepFiles_) {
    FileRecord& record = files_.emplace_back();
    AppendRelativePath(record.path, relativeFolder, name, separator_);
    record.language = language;
    record.counts = counts;
  }
  if (next_ != nullptr) next_->FileCounted(relativeFolder, name, file);
}

void CRunRecorder::FolderFinished(WStringView relativeFolder, std::int64_t fileCount) {
  if (next_ != nullptr) next_->FolderFinished(relativeFolder, fileCount);
}

void CRunRecorder::FolderSkipped(WStringView relativeFolder, FolderSkip reason) {
  if (next_ != nullptr) next_->FolderSkipped(relativeFolder, reason);
}

void CRunRecorder::WalkFailed(WalkFailure step, WStringView relativeFolder, WStringView argument,
                              HResult code) {
  if (!failure_) {
    failure_ = RecordedFailure{step, WString(relativeFolder), WString(argument), code};
  }
  if (next_ != nullptr) next_->WalkFailed(step, relativeFolder, argument, code);
}

}  // namespace srctally
