// A temporary folder for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace srctally::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// Writes bytes to a file below the folder (creating parent folders) and returns its path.
  std::filesystem::path Write(const std::filesystem::path& relative, std::string_view bytes) const;
  /// Creates a folder below the temp folder and returns its path.
  std::filesystem::path MakeDir(const std::filesystem::path& relative) const;

 private:
  std::filesystem::path path_;
};

}  // namespace srctally::testing
