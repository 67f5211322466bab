// Absolute POSIX paths on the command line: they start with '/' like a switch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/base_console.h"
#include "testing/test_console.h"

namespace srctally {
namespace {

class PathRecordingConsole : public testing::TestConsole {
 public:
  using TestConsole::TestConsole;
  std::int32_t OnArgument(std::size_t, WStringView text) override {
    paths += ToUtf8(text) + "|";
    return 0;
  }
  // No one-part path exists here, so /src reads as a switch whatever the machine holds.
  bool IsExistingPath(WStringView) const override { return false; }
  std::string paths;
};

TEST(PosixCommandLineTest, PathsWithASecondSlashArePositional) {
  const struct {
    std::vector<WString> args;
    std::string paths;
    std::string unknown;
  } rows[] = {
      {{u"prog", u"/src/net", u"/d:verbose"}, "/src/net|", ""},
      {{u"prog", u"/src/", u"/s"}, "/src/|", "\t/s\n"},
      {{u"prog", u"/a:b/c"}, "", "\t/a\n"},  // the name ends at the colon
      {{u"prog", u"//"}, "//|", ""},
      {{u"prog", u"/src"}, "", "\t/src\n"},
      {{u"prog", u"/d:verbose", u"/x/y"}, "/x/y|", ""},  // a path may follow switches
  };
  for (const auto& row : rows) {
    testing::FakeConsoleSink sink;
    PathRecordingConsole console(sink);
    console.ParseCommandLine(row.args);
    EXPECT_EQ(console.paths, row.paths) << ToUtf8(row.args[1]);
    EXPECT_EQ(ToUtf8(console.unknownParameters_), row.unknown) << ToUtf8(row.args[1]);
  }
}

}  // namespace
}  // namespace srctally
