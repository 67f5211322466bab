// The source tree walk: selects source files by extension, counts them folder by folder
// (files first, then, with subdir, each sub-folder), and reports what it browses and what
// fails. The first failure ends the walk.
#pragma once

#include <optional>
#include <vector>

#include "base/status.h"
#include "base/text.h"
#include "console/message_writer.h"
#include "counting/line_stats.h"
#include "platform/file.h"
#include "platform/folder_search.h"

namespace srctally {

/// One accepted extension (without its dot) and whether it names a header.
struct SourceExtension {
  WStringView extension;
  bool isHeader;
};

/// The accepted extensions, searched in this order.
inline constexpr SourceExtension SourceExtensions[] = {
    {u"h", true},     {u"hpp", true},   {u"hxx", true},   {u"c", false},    {u"cpp", false},
    {u"cxx", false},  {u"cs", false},   {u"java", false}, {u"js", false},   {u"ino", false},
    {u"pde", false},  {u"php", false},  {u"php3", false}, {u"php4", false}, {u"php5", false},
    {u"php6", false}, {u"php7", false},
};

/// The extension of a file name: the text after its last dot, unless a blank follows that
/// dot. nullopt when the name has no such dot. ".c" has the extension "c".
std::optional<WStringView> FindExtension(WStringView name);

/// The first row of SourceExtensions equal to extension, ignoring the case of A to Z only;
/// nullptr when none matches.
const SourceExtension* FindSourceExtension(WStringView extension);

/// The per-file step: counts file into a fresh record and, on success, prints it (a dot, or
/// its name and report block when verbose) and adds it into totals. Answers 0, or the
/// counting failure, in which case nothing was printed or added.
HResult ProcessFile(const platform::FileLocation& file, WStringView displayName, LineStats& totals,
                    CMessageWriter& writer, bool verbose);

struct WalkOptions {
  bool noHeader = false;  ///< skip header files
  bool subdir = false;    ///< descend into sub-folders
  bool verbose = false;   ///< the verbose display level
};

class CTreeWalk {
 public:
  /// sourcePath is the full path of the folder the walk starts from.
  CTreeWalk(CMessageWriter& writer, WString sourcePath, WalkOptions options);

  /// Walks relativeFolder below the source path (the platform's separator alone for the
  /// source folder itself) and counts its source files into totals. Answers 0 or positive,
  /// or the negative code of the first failure, which has been reported.
  HResult WalkFolder(WStringView relativeFolder, LineStats& totals);

 private:
  HResult WalkLevel(platform::CFolderSearch& folder, WStringView relativeFolder, LineStats& totals);
  HResult CountFiles(platform::CFolderSearch& folder, WStringView relativeFolder,
                     LineStats& totals);
  HResult WalkSubFolders(platform::CFolderSearch& folder, WStringView relativeFolder,
                         LineStats& totals);
  bool IsAncestor(const platform::FolderIdentity& identity) const;

  CMessageWriter& writer_;
  WString sourcePath_;
  WalkOptions options_;
  char16_t separator_;
  std::vector<platform::FolderIdentity> ancestors_;  // the folders being walked, root first
  WString relativePath_;                             // the relative path of the level being walked
};

}  // namespace srctally
