// System error text with its code, date-time stamps and the errno table.
#include "runtime/system_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "base/text.h"
#include "platform/last_error.h"

namespace srctally {
namespace {

WString Finish(const char16_t* message, std::uint32_t code) {
  SystemTextBuffer buffer{};
  WStringView(message).copy(buffer, kSystemTextCapacity - 1);
  FinishSystemErrorText(code, buffer);
  return buffer;
}

TEST(SystemErrorTextTest, TrailingBreaksAreCutAndTheCodeAppended) {
  EXPECT_EQ(Finish(u"File not found.\r\n", 2), u"File not found. (2)");
  EXPECT_EQ(Finish(u"Odd \t\r\n ", 0x80070005u), u"Odd (5)");
  EXPECT_EQ(Finish(u"Keep\r\nthe\tinside", 0x8007000Eu), u"Keep\r\nthe\tinside (14)");
  EXPECT_EQ(Finish(u"Unspecified error\r\n", 0x80004005u), u"Unspecified error (0x80004005)");
  EXPECT_EQ(Finish(u"Wide", 0x90070005u), u"Wide (0x90070005)");
  EXPECT_EQ(Finish(u"Small", 0xFFFFu), u"Small (65535)");
  EXPECT_EQ(Finish(u"Big", 0x10000u), u"Big (0x00010000)");
}

TEST(SystemErrorTextTest, SuffixIsBoundedByTheBuffer) {
  const WString full(kSystemTextCapacity - 3, u'x');
  const WString text = Finish(full.c_str(), 2);
  EXPECT_EQ(text.size(), kSystemTextCapacity - 1);
  EXPECT_EQ(text.substr(text.size() - 2), u" (");
}

TEST(SystemErrorTextTest, FacilityWin32CodesShareTheirSystemText) {
  SystemTextBuffer plain{}, wrapped{}, memory{}, hresult{};
  ASSERT_TRUE(GetSystemErrorText(2, plain));
  ASSERT_TRUE(GetSystemErrorText(0x80070002u, wrapped));
  EXPECT_EQ(WStringView(plain), WStringView(wrapped));
  EXPECT_TRUE(WStringView(plain).ends_with(u" (2)"));
  ASSERT_TRUE(GetSystemErrorText(0x8007000Eu, memory));
  EXPECT_TRUE(WStringView(memory).ends_with(u" (14)"));
  ASSERT_TRUE(GetSystemErrorText(0x80004005u, hresult));
  EXPECT_TRUE(WStringView(hresult).ends_with(u" (0x80004005)"));
  const WStringView text(plain);
  EXPECT_EQ(text.find_first_of(u"\r\n"), WStringView::npos);
}

TEST(SystemErrorTextTest, Bit28MeansNoSystemCode) {
  EXPECT_TRUE(CarriesSystemErrorCode(0x80070005u));
  EXPECT_FALSE(CarriesSystemErrorCode(0x90070005u));
  SystemTextBuffer buffer{};
  if (GetSystemErrorText(0x90070005u, buffer)) {
    EXPECT_TRUE(WStringView(buffer).ends_with(u" (0x90070005)"));
  }
}

TEST(SystemErrorTextTest, UnknownCodeFails) {
  SystemTextBuffer buffer{};
  buffer[0] = u'!';
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(GetSystemErrorText(0xA0F1FFFEu, buffer));
  EXPECT_NE(platform::GetLastErrorCode(), 0u);
}

TEST(LocalDateTimeTest, DateBlankTime) {
  SystemTextBuffer buffer{};
  const std::uint32_t count = GetLocalDateTimeText(buffer);
  ASSERT_GT(count, 4u);
  EXPECT_EQ(WStringView(buffer).size() + 1, count);
  EXPECT_NE(WStringView(buffer).find(u' '), WStringView::npos);
}

TEST(LocalDateTimeTest, JoiningAndFullBuffer) {
  SystemTextBuffer buffer{};
  auto write = [](const char16_t* text) {
    return [text](char16_t* out, std::uint32_t capacity) -> std::uint32_t {
      const WStringView view(text);
      if (view.size() + 1 > capacity) return 0;
      view.copy(out, view.size());
      out[view.size()] = u'\0';
      return static_cast<std::uint32_t>(view.size() + 1);
    };
  };
  EXPECT_EQ(ComposeDateTimeText(buffer, write(u"7/12/2026"), write(u"14:03:05")), 19u);
  EXPECT_EQ(WStringView(buffer), u"7/12/2026 14:03:05");

  const WString longDate(kSystemTextCapacity - 1, u'd');  // fills all 256 with its NUL
  platform::SetLastErrorCode(0);
  EXPECT_EQ(ComposeDateTimeText(buffer, write(longDate.c_str()), write(u"t")), 0u);
  EXPECT_EQ(platform::GetLastErrorCode(), win32err::kInsufficientBuffer);
  EXPECT_EQ(ComposeDateTimeText(buffer, write(u"d"), write(u"")), 3u);
  EXPECT_EQ(ComposeDateTimeText(buffer, write(u"d"), [](char16_t*, std::uint32_t) { return 0u; }),
            0u);
}

platform::LocalTime Utc(int year, int month, int day, int hour, int minute, int second) {
  platform::LocalTime time;
  time.year = year;
  time.month = month;
  time.day = day;
  time.hour = hour;
  time.minute = minute;
  time.second = second;
  return time;
}

TEST(UtcTimeStampTest, FixedWidthFieldsOrNone) {
  const struct {
    platform::LocalTime time;
    const char* expected;  // "" when no stamp may be written
  } rows[] = {
      {Utc(2026, 12, 10, 3, 4, 5), "2026-12-10T03:04:05Z"},
      {Utc(7, 1, 2, 0, 0, 0), "0007-01-02T00:00:00Z"},          // every field keeps its width
      {Utc(9999, 12, 31, 23, 59, 60), "9999-12-31T23:59:60Z"},  // a leap second
      {Utc(0, 1, 1, 0, 0, 0), "0000-01-01T00:00:00Z"},
      {Utc(10000, 1, 1, 0, 0, 0), ""},
      {Utc(-1, 1, 1, 0, 0, 0), ""},
      {Utc(2026, 0, 1, 0, 0, 0), ""},
      {Utc(2026, 13, 1, 0, 0, 0), ""},
      {Utc(2026, 1, 0, 0, 0, 0), ""},
      {Utc(2026, 1, 32, 0, 0, 0), ""},
      {Utc(2026, 1, 1, 24, 0, 0), ""},
      {Utc(2026, 1, 1, 0, 60, 0), ""},
      {Utc(2026, 1, 1, 0, 0, 61), ""},
      {Utc(2026, 1, 1, 0, 0, -1), ""},
  };
  for (const auto& row : rows) {
    TimeStampBuffer buffer;
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(FormatUtcTimeStamp(row.time, buffer), row.expected[0] != '\0') << row.expected;
    EXPECT_STREQ(buffer, row.expected);
  }
}

TEST(UtcTimeStampTest, TheClockGivesAStamp) {
  // Only the form is checked: the value is whatever the clock says.
  TimeStampBuffer buffer;
  ASSERT_TRUE(GetUtcTimeStamp(buffer));
  const std::string stamp = buffer;
  ASSERT_EQ(stamp.size(), 20u) << stamp;
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    const char expected = "dddd-dd-ddTdd:dd:ddZ"[i];
    if (expected == 'd') {
      EXPECT_TRUE(stamp[i] >= '0' && stamp[i] <= '9') << stamp;
    } else {
      EXPECT_EQ(stamp[i], expected) << stamp;
    }
  }
}

TEST(ErrnoTableTest, MapsTheWindowsRuntimeNumbers) {
  struct Row {
    int errorNumber;
    std::uint32_t code;
  } rows[] = {{1, 5},    {2, 2},   {4, 1003}, {11, 14},  {13, 5},  {20, 267},       {21, 161},
              {34, 534}, {36, 32}, {38, 111}, {41, 145}, {42, 13}, {80, 0x000401A0}};
  for (const Row& row : rows) {
    platform::SetLastErrorCode(7);
    SetLastErrorFromErrno(row.errorNumber);
    EXPECT_EQ(platform::GetLastErrorCode(), row.code) << row.errorNumber;
  }
  for (int unchanged : {0, 15, 26, 35, 37, 43, -1}) {
    platform::SetLastErrorCode(7);
    SetLastErrorFromErrno(unchanged);
    EXPECT_EQ(platform::GetLastErrorCode(), 7u) << unchanged;
  }
  EXPECT_EQ(std::size(kErrnoTable), 39u);
}

}  // namespace
}  // namespace srctally
