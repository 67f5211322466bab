// The path of the folder a walk filter is in, and of the entry it is asked about, in one
// buffer reused for every entry.
#pragma once

#include <cstddef>
#include <vector>

#include "base/text.h"

namespace srctally {

/// Follows the walk's folders ('/'-separated paths) for a filter and forms the path of an
/// entry of the current folder without allocating once the buffer has grown to the longest
/// path.
class CWalkPath {
 public:
  CWalkPath() { path_.reserve(256); }

  /// Enters the folder prefix/relativePath (either may be empty).
  void Enter(WStringView prefix, WStringView relativePath) {
    path_.assign(prefix);
    if (!prefix.empty() && !relativePath.empty()) path_.push_back(u'/');
    path_.append(relativePath);
    folderLengths_.push_back(path_.size());
  }

  /// Back to the folder entered before the current one.
  void Leave() {
    if (!folderLengths_.empty()) folderLengths_.pop_back();
  }

  /// The current folder's path ("" before any folder and for the top folder without prefix).
  WStringView Folder() const {
    return WStringView(path_).substr(0, folderLengths_.empty() ? 0 : folderLengths_.back());
  }

  /// The path of the entry name of the current folder. Valid until the next call.
  WStringView Entry(WStringView name) {
    const std::size_t folderLength = Folder().size();
    path_.resize(folderLength);
    if (folderLength != 0) path_.push_back(u'/');
    path_.append(name);
    return path_;
  }

 private:
  WString path_;  // the current folder's path, and behind it the entry last asked about
  std::vector<std::size_t> folderLengths_;
};

}  // namespace srctally
