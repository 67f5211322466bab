// Windows share modes: a source file held open for writing elsewhere cannot be counted.
#include <gtest/gtest.h>
#include <windows.h>

#include "counting/file_counting.h"
#include "input/text_file.h"
#include "testing/temp_dir.h"
#include "testing/wide_path.h"

namespace srctally {
namespace {

HANDLE OpenOther(const std::filesystem::path& path, DWORD access) {
  return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(Win32TextFileTest, WritersElsewhereBlockCounting) {
  testing::TempDir dir;
  const auto path = dir.Write("held.c", "int a;\n");
  const HANDLE writer = OpenOther(path, GENERIC_WRITE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  LineStats stats;
  EXPECT_EQ(CountFileLines(testing::WidePath(path), stats),
            HResultFromWin32(win32err::kSharingViolation));
  ::CloseHandle(writer);

  const HANDLE reader = OpenOther(path, GENERIC_READ);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CountFileLines(testing::WidePath(path), stats), hr::kFalse);
  EXPECT_EQ(stats.codeLines, 1);
  ::CloseHandle(reader);
}

TEST(Win32TextFileTest, CountingDeniesWritersWhileOpen) {
  testing::TempDir dir;
  const auto path = dir.Write("open.c", "x\n");
  CTextFile file;
  ASSERT_EQ(file.Open(testing::WidePath(path), textfile::kCountingFlags), hr::kOk);
  const HANDLE writer = OpenOther(path, GENERIC_WRITE);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  const HANDLE reader = OpenOther(path, GENERIC_READ);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
  if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
}

}  // namespace
}  // namespace srctally
