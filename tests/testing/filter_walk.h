// Drives a walk filter over a tree held in memory, the way the tree walk drives it: enter a
// folder, ask about each of its entries, descend into the folders it keeps.
#pragma once

#include <map>
#include <set>
#include <string>

#include "base/text.h"
#include "walk/walk_events.h"

namespace srctally::testing {

/// Paths below the source folder, '/'-separated; a folder's path ends with '/', a file's
/// maps to its bytes. Parent folders need not be listed.
using MemoryTree = std::map<std::string, std::string>;

/// The bytes of a file of a MemoryTree that cannot be read (as a .gitignore that is a
/// symbolic link is not).
inline const std::string kUnreadableFile = "\x02unreadable\x02";

namespace detail {

struct FolderContext {
  const MemoryTree* tree;
  std::string folder;  // "" or "a/b/"
};

inline bool ReadMemoryFile(void* context, WStringView name, std::string& text) {
  const auto* folder = static_cast<const FolderContext*>(context);
  const auto found = folder->tree->find(folder->folder + ToUtf8(name));
  if (found == folder->tree->end() || found->second == kUnreadableFile) return false;
  text = found->second;
  return true;
}

// The direct entries of folder ("" or "a/b/"): name and whether it is a folder.
inline std::map<std::string, bool> Entries(const MemoryTree& tree, const std::string& folder) {
  std::map<std::string, bool> entries;
  for (const auto& [path, bytes] : tree) {
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) continue;
    const std::string rest = path.substr(folder.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos) {
      entries.emplace(rest, false);
    } else {
      entries[rest.substr(0, slash)] = true;
    }
  }
  return entries;
}

inline void WalkMemoryFolder(const MemoryTree& tree, const std::string& folder, IWalkFilter& filter,
                             std::set<std::string>& kept) {
  FolderContext context{&tree, folder};
  const std::string relative = folder.empty() ? "" : folder.substr(0, folder.size() - 1);
  filter.EnterFolder(FromUtf8Lossless(relative), ReadMemoryFile, &context);
  for (const auto& [name, isFolder] : Entries(tree, folder)) {
    if (filter.Excludes(FromUtf8Lossless(name), isFolder)) continue;
    if (isFolder) {
      kept.insert(folder + name + "/");
      WalkMemoryFolder(tree, folder + name + "/", filter, kept);
    } else {
      kept.insert(folder + name);
    }
  }
  filter.LeaveFolder();
}

}  // namespace detail

/// The paths the walk would reach with filter: every file and folder (with its '/') that
/// neither the filter nor an excluded folder above it passes over.
inline std::set<std::string> KeptPaths(const MemoryTree& tree, IWalkFilter& filter) {
  std::set<std::string> kept;
  detail::WalkMemoryFolder(tree, "", filter, kept);
  return kept;
}

/// The files among paths.
inline std::set<std::string> FilesOf(const std::set<std::string>& paths) {
  std::set<std::string> files;
  for (const std::string& path : paths) {
    if (!path.ends_with('/')) files.insert(path);
  }
  return files;
}

}  // namespace srctally::testing
