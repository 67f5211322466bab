// The words of a failed walk step, one table for every report: the console report, the
// JSON document's errors and the lines a CSV run tells on standard error.
#pragma once

#include "base/text.h"
#include "walk/walk_events.h"

namespace srctally {

/// The message of a failed walk step as a format with one %s: the file's name for
/// kProcessFile, the folder's path for the listing steps. kSearchFiles ends without a full
/// stop, as the program has always printed it.
constexpr WStringView WalkFailureFormat(WalkFailure step) {
  switch (step) {
    case WalkFailure::kProcessFile:
      return u"cannot process file '%s'.";
    case WalkFailure::kSearchFiles:
      return u"cannot search for files in %s";
    case WalkFailure::kSearchFilesEnd:
      return u"cannot search for files in %s.";
    case WalkFailure::kSearchFolders:
      return u"cannot search for folders in %s.";
  }
  return u"";
}

}  // namespace srctally
