// A small application console over a fake sink, for tests of the console frame.
#pragma once

#include "console/base_console.h"
#include "testing/fake_console_sink.h"

namespace srctally::testing {

class TestConsole : public CBaseConsole {
 public:
  explicit TestConsole(FakeConsoleSink& sink) : CBaseConsole(sink) {}

  WString GetDescription() const override { return u"Counts 100% of the test lines."; }
  WString GetUsage() const override { return u"[<path>] [/?]\n\n  /?  Shows 100% of this.\n"; }
  BannerTexts GetBannerTexts() override { return banner; }

  BannerTexts banner;

  using CBaseConsole::allowedLevels_;
  using CBaseConsole::displayLevel_;
  using CBaseConsole::errorCode_;
  using CBaseConsole::errorText_;
  using CBaseConsole::headerOptions_;
  using CBaseConsole::indentLevel_;
  using CBaseConsole::invalidValues_;
  using CBaseConsole::outputCount_;
  using CBaseConsole::progressWidth_;
  using CBaseConsole::unknownParameters_;
};

}  // namespace srctally::testing
