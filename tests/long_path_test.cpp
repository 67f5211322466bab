// Extended-length path text: canonical form, joining, roots, and the LongPath buffer.
#include "platform/long_path.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/status.h"
#include "platform/last_error.h"

namespace srctally {
namespace {

// Resolves like the Windows one with the current directory C:\cwd, so the same rows hold on
// every platform.
bool FakeFullPath(WStringView name, WString& out, std::size_t capacity) {
  WString text(name);
  if (text.size() < 2 || text[1] != u':') text = u"C:\\cwd\\" + text;
  auto buffer = std::make_unique<char16_t[]>(kLongPathCapacity);
  if (!CanonicalizePath(buffer.get(), text.c_str())) return false;
  out = buffer.get();
  return out.size() < capacity;
}

class Buffer {
 public:
  explicit Buffer(WStringView text = {}) : data_(std::make_unique<char16_t[]>(kLongPathCapacity)) {
    text.copy(data_.get(), text.size());
    data_[text.size()] = 0;
  }
  char16_t* get() { return data_.get(); }
  WString str() const { return data_.get(); }

 private:
  std::unique_ptr<char16_t[]> data_;
};

TEST(LongPathTest, CanonicalizePathRows) {
  const struct {
    const char16_t* path;
    const char16_t* expected;
  } rows[] = {
      {u"C:\\a\\.\\b", u"C:\\a\\b"},
      {u"C:\\a\\b\\..\\c", u"C:\\a\\c"},
      {u"C:\\..", u"C:\\"},
      {u"a\\..\\b", u"b"},
      {u"\\a\\..\\b", u"\\b"},
      {u"C:\\a\\b...", u"C:\\a\\b"},
      {u"\\\\?\\C:\\x\\..\\y", u"\\\\?\\C:\\y"},
      {u"\\\\?\\C:", u"\\\\?\\C:\\"},
      {u"C:\\a\\...", u"C:\\a\\"},
      {u"C:\\a\\.git\\..x\\...\\b", u"C:\\a\\.git\\..x\\...\\b"},
      {u"C:\\a\\\\b", u"C:\\a\\\\b"},  // repeated separators stay
      {u"C:\\a\\b\\..", u"C:\\a"},
      {u"C:\\a\\.", u"C:\\a"},
      {u"\\\\?\\UNC\\srv\\share\\x\\..", u"\\\\?\\UNC\\srv\\share"},
      {u"\\\\srv\\share\\.\\x", u"\\\\srv\\share\\x"},
      {u"a/./b", u"a/./b"},  // '/' is an ordinary character
      // Open cases: nothing in front to take back; the result stays inside the buffer.
      {u".\\x", u"x"},
      {u"..\\x", u"x"},
      {u"\\..\\x", u"\\x"},
      {u"..", u""},
  };
  for (const auto& row : rows) {
    Buffer output(u"garbage left from before");
    ASSERT_TRUE(CanonicalizePath(output.get(), row.path)) << ToUtf8(row.path);
    EXPECT_EQ(output.str(), row.expected) << ToUtf8(row.path);
    Buffer inPlace(row.path);
    ASSERT_TRUE(CanonicalizePath(inPlace.get(), inPlace.get()));
    EXPECT_EQ(inPlace.str(), row.expected) << "in place: " << ToUtf8(row.path);
  }
}

TEST(LongPathTest, MakeExtendedPathRows) {
  const struct {
    const char16_t* path;
    const char16_t* expected;
  } rows[] = {
      {u"C:\\src", u"\\\\?\\C:\\src"},
      {u"\\\\srv\\share\\x", u"\\\\?\\UNC\\srv\\share\\x"},
      {u"\\\\srv\\share\\x\\..\\y", u"\\\\?\\UNC\\srv\\share\\y"},
      {u"\\\\?\\C:\\a\\.\\b", u"\\\\?\\C:\\a\\b"},
      {u"src\\..\\lib", u"\\\\?\\C:\\cwd\\lib"},
  };
  for (const auto& row : rows) {
    Buffer output;
    ASSERT_TRUE(MakeExtendedPath(output.get(), row.path, FakeFullPath)) << ToUtf8(row.path);
    EXPECT_EQ(output.str(), row.expected);
  }

  // A UNC path grows by six characters: at 32,769 the result and its NUL just fit the
  // buffer; one more would put the NUL one past its end.
  const WString fits = u"\\\\" + WString(kLongPathCapacity - 9, u's');
  Buffer output;
  ASSERT_TRUE(MakeExtendedPath(output.get(), fits.c_str(), FakeFullPath));
  EXPECT_EQ(output.str().size(), kLongPathCapacity - 1);
  // The unit after the buffer is watched: the refused path must not have touched it.
  const WString tooLong = fits + u"s";
  std::vector<char16_t> guarded(kLongPathCapacity + 1, u'#');
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(MakeExtendedPath(guarded.data(), tooLong.c_str(), FakeFullPath));
  EXPECT_EQ(platform::GetLastErrorCode(), 206u);
  EXPECT_EQ(guarded[kLongPathCapacity], u'#');
}

TEST(LongPathTest, CombineAndAppend) {
  Buffer output;
  EXPECT_EQ(WString(CombinePath(output.get(), u"C:\\a", u"b\\..\\c", FakeFullPath)), u"C:\\a\\c");
  EXPECT_EQ(WString(CombinePath(output.get(), u"C:\\a\\", u"", FakeFullPath)), u"C:\\a\\");
  EXPECT_EQ(WString(CombinePath(output.get(), u"C:\\a", u"D:\\x", FakeFullPath)), u"\\\\?\\D:\\x");
  EXPECT_EQ(WString(CombinePath(output.get(), u"C:\\a", u"\\\\s\\h", FakeFullPath)),
            u"\\\\?\\UNC\\s\\h");
  EXPECT_EQ(WString(CombinePath(output.get(), u"", u"x", FakeFullPath)), u"x");
  EXPECT_EQ(WString(CombinePath(output.get(), nullptr, nullptr, FakeFullPath)), u"");

  const struct {
    const char16_t* path;
    const char16_t* more;
    const char16_t* expected;
  } rows[] = {
      {u"C:\\x", u"\\src", u"C:\\x\\src"},
      {u"\\\\?\\C:\\src", u"\\", u"\\\\?\\C:\\src"},
      {u"\\\\?\\C:\\src", u"*.*", u"\\\\?\\C:\\src\\*.*"},
      {u"\\\\?\\C:\\", u"*", u"\\\\?\\C:\\*"},
      {u"C:\\x", u"", u"C:\\x"},
      {u"C:\\x", u"\\\\?\\D:\\y\\..", u"\\\\?\\D:\\"},
      {u"C:\\x", u"\\\\srv\\s", u"\\\\?\\UNC\\srv\\s"},
  };
  for (const auto& row : rows) {
    Buffer path(row.path);
    ASSERT_TRUE(AppendPath(path.get(), row.more, FakeFullPath)) << ToUtf8(row.more);
    EXPECT_EQ(path.str(), row.expected) << ToUtf8(row.path) << " + " << ToUtf8(row.more);
  }
}

TEST(LongPathTest, MissingArgumentsFailWithInvalidParameter) {
  Buffer output;
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(CanonicalizePath(nullptr, u"x"));
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kInvalidParameter);
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(CanonicalizePath(output.get(), nullptr));
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kInvalidParameter);
  EXPECT_FALSE(MakeExtendedPath(output.get(), nullptr, FakeFullPath));
  EXPECT_FALSE(MakeExtendedPath(nullptr, u"C:\\", FakeFullPath));
  EXPECT_EQ(CombinePath(nullptr, u"a", u"b", FakeFullPath), nullptr);
  EXPECT_FALSE(AppendPath(nullptr, u"a", FakeFullPath));
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(AppendPath(output.get(), nullptr, FakeFullPath));
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kInvalidParameter);
}

TEST(LongPathTest, RootsAndComponents) {
  const struct {
    const char16_t* path;
    bool isRoot;
    bool removed;
    const char16_t* afterRemove;
    bool stripped;
    const char16_t* root;
  } rows[] = {
      {u"C:\\a\\b", false, true, u"C:\\a", true, u"C:\\"},
      {u"C:\\a", false, true, u"C:\\", true, u"C:\\"},
      {u"C:\\", true, false, u"C:\\", true, u"C:\\"},
      {u"\\\\server\\share", true, true, u"\\\\server", true, u"\\\\server\\share"},
      {u"\\\\server\\share\\x", false, true, u"\\\\server\\share", true, u"\\\\server\\share"},
      {u"\\\\?\\C:\\a", false, true, u"\\\\?\\C:\\", true, u"\\\\?\\C:\\"},
      {u"\\\\?\\UNC\\s\\h\\d", false, true, u"\\\\?\\UNC\\s\\h", true, u"\\\\?\\UNC\\s\\h"},
      {u"\\", false, true, u"", false, u""},
      {u"abc", false, true, u"", false, u""},
      {u"", false, false, u"", false, u""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IsRoot(row.path), row.isRoot) << ToUtf8(row.path);
    Buffer remove(row.path);
    EXPECT_EQ(RemoveFileSpec(remove.get()), row.removed) << ToUtf8(row.path);
    EXPECT_EQ(remove.str(), row.afterRemove) << ToUtf8(row.path);
    Buffer strip(row.path);
    EXPECT_EQ(StripToRoot(strip.get()), row.stripped) << ToUtf8(row.path);
    EXPECT_EQ(strip.str(), row.root) << ToUtf8(row.path);
  }
  EXPECT_FALSE(IsRoot(nullptr));
  EXPECT_FALSE(RemoveFileSpec(nullptr));
  EXPECT_FALSE(StripToRoot(nullptr));
  EXPECT_TRUE(HasExtendedPrefix(u"\\\\?\\x"));
  EXPECT_FALSE(HasExtendedPrefix(u"\\\\?"));
  EXPECT_TRUE(HasExtendedUncPrefix(u"\\\\?\\UNC\\s"));
  EXPECT_FALSE(HasExtendedUncPrefix(u"\\\\?\\unc\\s"));  // case-sensitive
}

TEST(LongPathTest, AddBackslash) {
  Buffer empty;
  EXPECT_EQ(AddBackslash(empty.get()), empty.get());
  EXPECT_EQ(empty.str(), u"");
  Buffer folder(u"C:\\a");
  EXPECT_EQ(AddBackslash(folder.get()), folder.get() + 5);
  EXPECT_EQ(folder.str(), u"C:\\a\\");
  EXPECT_EQ(AddBackslash(folder.get()), folder.get() + 5);  // already ends with one
  EXPECT_EQ(AddBackslash(nullptr), nullptr);
  Buffer full(WString(kLongPathCapacity - 2, u'x'));  // 32,774 characters: room for one
  EXPECT_NE(AddBackslash(full.get()), nullptr);
  EXPECT_EQ(AddBackslash(full.get()), nullptr);  // 32,775: no room left
}

TEST(LongPathTest, LongPathSetAndAppend) {
  LongPath path(false, FakeFullPath);
  EXPECT_EQ(path.c_str(), nullptr);
  ASSERT_TRUE(path.Append(u"C:\\src"));  // nothing allocated yet: behaves as Set
  EXPECT_EQ(path.view(), u"\\\\?\\C:\\src");
  ASSERT_TRUE(path.Append(u"\\"));
  EXPECT_EQ(path.view(), u"\\\\?\\C:\\src");
  ASSERT_TRUE(path.Append(u"*.*"));
  EXPECT_EQ(path.view(), u"\\\\?\\C:\\src\\*.*");
  ASSERT_TRUE(path.Set(u"\\\\srv\\share\\x"));
  EXPECT_EQ(path.view(), u"\\\\?\\UNC\\srv\\share\\x");
  ASSERT_TRUE(path.Set(u"\\\\?\\C:\\a\\..\\b"));
  EXPECT_EQ(path.view(), u"\\\\?\\C:\\b");
  path.Release();
  EXPECT_EQ(path.c_str(), nullptr);

  LongPath relative(true, FakeFullPath);
  ASSERT_TRUE(relative.Set(u"\\"));
  EXPECT_EQ(relative.view(), u"\\");
  ASSERT_TRUE(relative.Append(u"\\a"));
  EXPECT_EQ(relative.view(), u"\\a");
  ASSERT_TRUE(relative.Append(u"b"));
  EXPECT_EQ(relative.view(), u"\\a\\b");
}

TEST(LongPathTest, LongPathFailures) {
  LongPath verbatim(true, FakeFullPath);
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(verbatim.Set(nullptr));
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kInvalidParameter);
  const WString fits(kLongPathCapacity - 1, u'a');
  EXPECT_TRUE(verbatim.Set(fits.c_str()));
  EXPECT_EQ(verbatim.view(), fits);
  const WString tooLong(kLongPathCapacity, u'a');
  EXPECT_FALSE(verbatim.Set(tooLong.c_str()));
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kArithmeticOverflow);

  // Appending past the capacity fails and never writes past the buffer.
  LongPath extended(false, FakeFullPath);
  ASSERT_TRUE(extended.Set(u"C:\\src"));
  const WString part(16000, u'p');
  EXPECT_TRUE(extended.Append(part.c_str()));
  EXPECT_TRUE(extended.Append(part.c_str()));
  EXPECT_FALSE(extended.Append(part.c_str()));
  const WString unc = u"\\\\" + WString(kLongPathCapacity - 4, u's');
  EXPECT_FALSE(extended.Set(unc.c_str()));  // grows by six characters: no longer fits
}

}  // namespace
}  // namespace srctally
