// Extended-length path names ("\\?\C:\..." and "\\?\UNC\server\share\...") as pure text:
// conversion, canonicalisation, joining, and LongPath, the buffer the tree walk builds its
// paths in. The separator is the backslash only; '/' is an ordinary character.
//
// Every buffer holds kLongPathCapacity characters, the terminating NUL included. Inputs are
// NUL-terminated texts; a null pointer is a missing argument. Failures answer false (or
// null) and leave the reason in the thread's last error: 87 for a missing argument, 206 for
// a result that does not fit.
#pragma once

#include <cstddef>

#include "base/text.h"
#include "platform/full_path.h"

namespace srctally {

/// Characters in every long path buffer, the terminating NUL included.
inline constexpr std::size_t kLongPathCapacity = 32776;

/// Resolves a path that has no extended-length prefix into a full path (MakeFullPath).
using FullPathResolver = bool (*)(WStringView name, WString& out, std::size_t capacity);

/// Whether path begins with "\\?\" (exact, case-sensitive).
bool HasExtendedPrefix(const char16_t* path);
/// Whether path begins with "\\?\UNC\" (exact, case-sensitive).
bool HasExtendedUncPrefix(const char16_t* path);

/// Writes the extended-length form of path into output: a "\\?\" path canonicalised, a
/// UNC path \\server\share\x as \\?\UNC\server\share\x, any other path as "\\?\" and the
/// full path resolve makes of it (at most kLongPathCapacity - 4 characters with its NUL).
bool MakeExtendedPath(char16_t* output, const char16_t* path,
                      FullPathResolver resolve = platform::MakeFullPath);

/// Copies path into output, keeping a prefix ("\\?\UNC\", "\\?\" or the "\\" of a UNC
/// path), removing "." components, taking back the component before each "..", never
/// going above a drive ("C:"), and removing trailing dots. A bare drive "C:" gets its
/// backslash. output may be the same buffer as path.
bool CanonicalizePath(char16_t* output, const char16_t* path);

/// Joins folder and file into output (which may be folder itself) and canonicalises the
/// result; a file with a prefix, a drive, a leading backslash or a UNC form is taken alone,
/// in its extended-length form. Answers output, or null on failure. file must not overlap
/// output.
char16_t* CombinePath(char16_t* output, const char16_t* folder, const char16_t* file,
                      FullPathResolver resolve = platform::MakeFullPath);

/// Appends more to path in place: "\\?\..." replaces it, leading backslashes of a non-UNC
/// more are dropped (C:\x plus \src is C:\x\src), the result is canonical.
bool AppendPath(char16_t* path, const char16_t* more,
                FullPathResolver resolve = platform::MakeFullPath);

/// Ends a non-empty path with a backslash. Answers a pointer to its terminating NUL (path
/// itself for an empty path), or null for a missing path or one with no room left.
char16_t* AddBackslash(char16_t* path);

/// Whether path is a root: "C:\" (behind an optional "\\?\"), or a server or server\share
/// behind "\\" or "\\?\UNC\".
bool IsRoot(const char16_t* path);

/// Cuts the last component off path ("C:\a\b" to "C:\a", "C:\a" to "C:\"). False when
/// nothing is left to remove.
bool RemoveFileSpec(char16_t* path);

/// Removes components until path is a root. False when it never becomes one.
bool StripToRoot(char16_t* path);

/// A path buffer of kLongPathCapacity characters, allocated on the first Set or Append and
/// reused afterwards. Not verbatim, Set stores the extended-length form of its text;
/// verbatim, the text as it stands.
class LongPath {
 public:
  explicit LongPath(bool verbatim = false, FullPathResolver resolve = platform::MakeFullPath)
      : verbatim_(verbatim), resolve_(resolve) {}
  ~LongPath() { Release(); }
  LongPath(const LongPath&) = delete;
  LongPath& operator=(const LongPath&) = delete;

  /// Replaces the content. Missing text: 87. No memory: 14. Verbatim text of
  /// kLongPathCapacity characters or more: 534.
  bool Set(const char16_t* text);
  /// AppendPath on the content; Set while nothing was allocated yet.
  bool Append(const char16_t* text);
  /// Frees the buffer.
  void Release();

  /// The content, or null before the first Set.
  const char16_t* c_str() const { return buffer_; }
  /// The content as a view (empty before the first Set).
  WStringView view() const { return buffer_ != nullptr ? WStringView(buffer_) : WStringView(); }
  bool verbatim() const { return verbatim_; }

 private:
  char16_t* buffer_ = nullptr;
  bool verbatim_;
  FullPathResolver resolve_;
};

}  // namespace srctally
