// The /exclude and /gitignore switches on the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/console.h"
#include "testing/fake_console_sink.h"

namespace srctally {
namespace {

class ExcludeConsole : public CConsole {
 public:
  using CConsole::CConsole;
  std::int32_t OnArgument(std::size_t index, WStringView text) override {
    paths += text;
    paths += u'|';
    return CConsole::OnArgument(index, text);
  }
  const WString& invalid() const { return invalidValues_; }
  const WString& unknown() const { return unknownParameters_; }
  WString paths;
};

std::vector<WString> Args(std::initializer_list<const char16_t*> texts) {
  std::vector<WString> args{u"prog"};
  for (const char16_t* text : texts) args.emplace_back(text);
  return args;
}

TEST(ExcludeSwitchTest, PatternsOptionsAndPath) {
  const struct {
    std::vector<WString> args;
    std::string patterns;  // as kept, '|' after each
    std::uint32_t options;
    std::string paths;  // positional arguments, '|' after each
    std::string invalid;
    std::string unknown;
  } rows[] = {
      {Args({u".", u"/subdir", u"/exclude:build,third_party,node_modules"}),
       "build|third_party|node_modules|", option::kSubdir | option::kExclude, ".|", "", ""},
      // Given more than once, the patterns add up; ';' and '=' separate values as ',' does.
      {Args({u"/exclude:a", u"/e:b;c=d"}), "a|b|c|d|", option::kExclude, "", "", ""},
      {Args({u"--exclude=*.h,arch/*/boot", u"src"}), "*.h|arch/*/boot|", option::kExclude, "src|",
       "", ""},
      // A quoted value keeps the separators in it; empty values are passed over.
      {Args({u"/exclude:\"a=b,c\",,x"}), "a=b,c|x|", option::kExclude, "", "", ""},
      // Values come only after the colon: the next argument is the path.
      {Args({u"/exclude:x", u"src"}), "x|", option::kExclude, "src|", "", ""},
      // Without one the switch is invalid, and what follows it is listed as rejected too.
      {Args({u"/exclude", u"build"}), "", option::kExclude, "", "\t/exclude\n", "\tbuild\n"},
      {Args({u"/exclude:"}), "", option::kExclude, "", "\t/exclude\n", ""},
      {Args({u"/exclude:./", u"/exclude:ok"}), "ok|", option::kExclude, "", "\t/exclude\n", ""},
      {Args({u"/gitignore", u"src"}), "", option::kGitIgnore, "src|", "", ""},
      {Args({u"--gitignore", u"/g:whatever", u"/n"}), "", option::kGitIgnore | option::kNoHeader,
       "", "", ""},
      {Args({u"/s", u"/n", u"/e:x", u"/g"}), "x|",
       option::kSubdir | option::kNoHeader | option::kExclude | option::kGitIgnore, "", "", ""},
  };
  for (const auto& row : rows) {
    testing::FakeConsoleSink sink;
    ExcludeConsole console(sink);
    console.ParseCommandLine(row.args);
    const std::string label = ToUtf8(row.args.back());
    std::string patterns;
    for (std::size_t i = 0; i < console.excludes.Count(); ++i) {
      patterns += ToUtf8(console.excludes.Pattern(i)) + "|";
    }
    EXPECT_EQ(patterns, row.patterns) << label;
    EXPECT_EQ(console.options & ~option::kSubdir, row.options & ~option::kSubdir) << label;
    EXPECT_EQ(ToUtf8(console.paths), row.paths) << label;
    EXPECT_EQ(ToUtf8(console.invalid()), row.invalid) << label;
    EXPECT_EQ(ToUtf8(console.unknown()), row.unknown) << label;
  }
}

}  // namespace
}  // namespace srctally
