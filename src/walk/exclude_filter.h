// The user's exclude patterns as a walk filter, and a pair of filters asked in turn.
#pragma once

#include <vector>

#include "walk/glob_pattern.h"
#include "walk/walk_events.h"
#include "walk/walk_path.h"

namespace srctally {

/// Passes over the files and folders that match one of the user's patterns.
///
/// A pattern without a '/' matches a name at any depth ("build", "*.h"). A pattern with one
/// matches the whole path below the source folder ("arch/*/boot", "/docs"); a leading '/'
/// only anchors the pattern there. A pattern ending in '/' matches folders only. With
/// backslashSeparates (Windows) a '\' in a pattern is a '/', otherwise it escapes the next
/// character.
class CExcludeFilter final : public IWalkFilter {
 public:
  CExcludeFilter(GlobCase matchCase, bool backslashSeparates);

  /// Adds a pattern as the user wrote it. False, adding nothing, when it matches no name at
  /// all: empty, or nothing but separators and "." components.
  bool Add(WStringView pattern);
  bool Empty() const { return rules_.empty(); }
  std::size_t Count() const { return rules_.size(); }
  /// The pattern added index-th, as the user wrote it.
  WStringView Pattern(std::size_t index) const { return rules_[index].given; }

  void EnterFolder(WStringView relativePath, ReadFolderFile readFile, void* context) override;
  void LeaveFolder() override;
  bool Excludes(WStringView name, bool isFolder) override;

 private:
  struct Rule {
    WString given;
    CGlobPattern pattern;
    bool wholePath;    // matched against the path below the source folder, else the name
    bool foldersOnly;  // written with a trailing '/'
  };

  std::vector<Rule> rules_;
  GlobCase case_;
  bool backslashSeparates_;
  bool anyWholePath_ = false;
  CWalkPath path_;
};

/// Asks two filters in turn: an entry either of them excludes is passed over. Both follow
/// every folder the walk enters and leaves.
class CFilterPair final : public IWalkFilter {
 public:
  CFilterPair(IWalkFilter& first, IWalkFilter& second) : first_(first), second_(second) {}

  void EnterFolder(WStringView relativePath, ReadFolderFile readFile, void* context) override {
    first_.EnterFolder(relativePath, readFile, context);
    second_.EnterFolder(relativePath, readFile, context);
  }
  void LeaveFolder() override {
    first_.LeaveFolder();
    second_.LeaveFolder();
  }
  bool Excludes(WStringView name, bool isFolder) override {
    return first_.Excludes(name, isFolder) || second_.Excludes(name, isFolder);
  }

 private:
  IWalkFilter& first_;
  IWalkFilter& second_;
};

}  // namespace srctally
