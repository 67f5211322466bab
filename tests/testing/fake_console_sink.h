// A console sink that records what the console framework writes, for tests.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "base/text.h"
#include "console/message_writer.h"
#include "platform/console_sink.h"

namespace srctally::testing {

class FakeConsoleSink final : public platform::IConsoleSink {
 public:
  explicit FakeConsoleSink(bool terminal = false) : terminal_(terminal) {}

  bool IsTerminal() const override { return terminal_; }
  void SetMode(std::uint32_t translationMode) override { mode = translationMode; }
  void Write(WStringView text) override {
    written += text;
    ++writes;
  }
  void Flush() override { ++flushes; }
  void FlushAll() override { ++flushes; }
  bool HasFailed() const override { return failureCode != 0; }
  std::uint32_t FailureCode() const override { return failureCode; }
  char16_t ReadKey() override {
    if (keys.empty()) return 0;
    const char16_t key = keys.front();
    keys.pop_front();
    ++keysRead;
    return key;
  }

  /// Everything written so far, as UTF-8 for readable test failures.
  std::string Text() const { return ToUtf8(written); }

  WString written;
  std::uint32_t mode = 0;  ///< last mode set; 0 = never set
  int writes = 0;
  int flushes = 0;
  int keysRead = 0;
  std::deque<char16_t> keys;      ///< keys ReadKey answers, then 0 (input closed)
  std::uint32_t failureCode = 0;  ///< set to make the sink report a failed write

 private:
  bool terminal_;
};

}  // namespace srctally::testing
