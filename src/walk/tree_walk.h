// The source tree walk: selects source files by extension, counts them folder by folder
// (files first, then, with subdir, each sub-folder), and tells a walk sink what it browses,
// counts, passes over and what fails, in walk order. The first failure ends the walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/flat_hash.h"
#include "base/status.h"
#include "base/text.h"
#include "counting/file_counting.h"
#include "counting/line_stats.h"
#include "platform/disk.h"
#include "walk/counting_pipeline.h"
#include "walk/walk_events.h"

namespace srctally {

/// The language of a counted file, told by its extension. kOther is a file named on the
/// command line whose extension the walk does not accept.
enum class Language : std::uint8_t {
  kCHeader,    ///< h: a header shared by C and C++
  kCppHeader,  ///< hpp, hxx
  kC,
  kCpp,
  kCSharp,
  kJava,
  kJavaScript,
  kArduino,  ///< ino, pde
  kPhp,      ///< php, php3 to php7
  kOther,
};

/// The number of Language values.
inline constexpr std::size_t kLanguageCount = static_cast<std::size_t>(Language::kOther) + 1;

/// The language's name as the reports show it ("C/C++ Header", "C#", "Other"); ASCII.
std::string_view LanguageName(Language language);

/// One accepted extension (without its dot), whether it names a header, and its language.
struct SourceExtension {
  WStringView extension;
  bool isHeader;
  Language language;
};

/// The accepted extensions, searched in this order.
inline constexpr SourceExtension SourceExtensions[] = {
    {u"h", true, Language::kCHeader},      {u"hpp", true, Language::kCppHeader},
    {u"hxx", true, Language::kCppHeader},  {u"c", false, Language::kC},
    {u"cpp", false, Language::kCpp},       {u"cxx", false, Language::kCpp},
    {u"cs", false, Language::kCSharp},     {u"java", false, Language::kJava},
    {u"js", false, Language::kJavaScript}, {u"ino", false, Language::kArduino},
    {u"pde", false, Language::kArduino},   {u"php", false, Language::kPhp},
    {u"php3", false, Language::kPhp},      {u"php4", false, Language::kPhp},
    {u"php5", false, Language::kPhp},      {u"php6", false, Language::kPhp},
    {u"php7", false, Language::kPhp},
};

/// The extension of a file name: the text after its last dot, unless a blank follows that
/// dot. nullopt when the name has no such dot. ".c" has the extension "c".
std::optional<WStringView> FindExtension(WStringView name);

/// The first row of SourceExtensions equal to extension, ignoring the case of A to Z only;
/// nullptr when none matches.
const SourceExtension* FindSourceExtension(WStringView extension);

/// The language of the file at path (a name, or a path whose last component after
/// separator is the name): its extension's row of SourceExtensions, else kOther. Allocates
/// nothing.
Language LanguageOfFile(WStringView path, char16_t separator);

struct WalkOptions {
  bool noHeader = false;  ///< skip header files
  bool subdir = false;    ///< descend into sub-folders
  bool verbose = false;   ///< the verbose display level (for the console report)
  /// Threads that count files, the walk's own included: 1 counts each file on the walk's
  /// thread; more start one worker thread fewer, which open and count the files while the
  /// walk runs ahead (and, where the disk can, open and list the folders ahead of it), with
  /// the same events in the same order. With one worker the walk's thread counts whenever
  /// it would wait for it. Fewer start when the open-file limit would not hold them all.
  unsigned threads = 1;
  /// Go on after a failure: a file that cannot be counted, or a folder that cannot be
  /// listed with its sub-folders, is told to the sink and passed over.
  bool keepGoing = false;
  /// Starts the counting threads; a starter that fails leaves fewer workers, and without
  /// any the walk's own thread counts every file.
  ThreadStarter startThread = &StartSystemThread;
};

/// Counts the single file at fullPath, whatever its extension, into totals, and tells sink
/// as a file of no folder (relativeFolder empty): FileCounted, or WalkFailed with
/// kProcessFile and name. Answers 0, or the failure.
HResult CountSingleFile(IWalkSink& sink, platform::IDisk& disk, WStringView fullPath,
                        WStringView name, LineStats& totals);

/// The walk over a source tree. It keeps its own stack of levels (the depth of a tree costs
/// no call stack), holds a bounded number of open folders whatever the depth, walks each
/// folder at most once per run however many folder links lead to it, and counts each file
/// at most once however many links lead to it (where the disk tells a file's identity
/// with its listing).
class CTreeWalk {
 public:
  /// The walk over disk that reports to sink; filter, when given, passes entries over.
  /// sourcePath is the full path of the folder the walk starts from.
  CTreeWalk(IWalkSink& sink, platform::IDisk& disk, WString sourcePath, WalkOptions options,
            IWalkFilter* filter = nullptr);
  ~CTreeWalk();
  CTreeWalk(const CTreeWalk&) = delete;
  CTreeWalk& operator=(const CTreeWalk&) = delete;

  /// Walks relativeFolder below the source path (the platform's separator alone for the
  /// source folder itself) and counts its source files into totals. Answers 0 or positive,
  /// or the negative code of the first failure, which the sink has been told (except that a
  /// folder path too long to be formed fails without a message). With keepGoing the walk
  /// goes on after each failure and answers the first one at its end.
  HResult WalkFolder(WStringView relativeFolder, LineStats& totals);

 private:
  struct Level;

  HResult Walk(WStringView relativeFolder, LineStats& totals);

  HResult EnterFolder(std::unique_ptr<platform::IFolder> folder, LineStats& totals);
  HResult CountFiles(platform::IFolder& folder, WStringView relativeFolder, LineStats& totals);
  HResult CountFile(platform::IFolder& folder, WStringView relativeFolder, WStringView name,
                    LineStats& totals);
  bool KeepGoing(HResult failure);
  void LeaveFolder();
  void Unwind();
  bool PushName(WStringView name);
  void PopTo(std::size_t pathLength, std::size_t filterPathLength);
  static bool ReadFolderFile(void* context, WStringView name, std::string& text);

  IWalkSink& sink_;
  std::unique_ptr<CCountingPipeline> pipeline_;  // with more than one thread
  IWalkFolderEvents* out_ = nullptr;             // where the events go: pipeline_ or sink_
  platform::IDisk& disk_;
  WString sourcePath_;
  WalkOptions options_;
  IWalkFilter* filter_;
  char16_t separator_;
  std::vector<Level> stack_;  // the folders being walked, the source folder first
  // Every folder walked this run; true while it is on the stack (an ancestor).
  FlatHashMap<platform::FolderIdentity, bool, platform::FolderIdentityHash> walked_;
  // Every file counted (or handed to be counted) this run whose identity the listing told.
  FlatHashSet<platform::FileIdentity, platform::FolderIdentityHash> counted_;
  WString relativePath_;  // the relative path of the folder being walked
  WString filterPath_;    // the same with '/' and no leading separator, for the filter
  platform::IFolder* entering_ = nullptr;  // the folder the filter reads files of
  std::unique_ptr<platform::IReadFile> file_;
  std::unique_ptr<platform::IReadFile> folderFile_;
  CFileCounter counter_;
  bool stopped_ = false;  // the sink wants no more
  HResult firstFailure_ = hr::kOk;  // the first failure the walk went on after
};

}  // namespace srctally
