// Where the console frame's own text (the banner, the usage and the problem report) goes:
// standard output, or standard error once a JSON or CSV document owns standard output.
#pragma once

#include "platform/byte_output.h"
#include "platform/console_sink.h"

namespace srctally {

class CFrameSink final : public platform::IConsoleSink {
 public:
  /// output is the sink over standard output; it must outlive this one.
  explicit CFrameSink(platform::IConsoleSink& output) : output_(output) {}

  /// From now on the frame's text goes to standard error.
  void UseStandardError() {
    output_.FlushAll();
    toError_ = true;
  }

  bool IsTerminal() const override { return output_.IsTerminal(); }
  void SetMode(std::uint32_t translationMode) override { output_.SetMode(translationMode); }
  void Write(WStringView text) override {
    if (toError_) {
      platform::WriteStandardError(text);
    } else {
      output_.Write(text);
    }
  }
  void Flush() override {
    if (!toError_) output_.Flush();
  }
  void FlushAll() override {
    if (!toError_) output_.FlushAll();
  }
  char16_t ReadKey() override { return output_.ReadKey(); }
  /// Standard error's failures are not tracked: there is nowhere left to report them.
  bool HasFailed() const override { return !toError_ && output_.HasFailed(); }
  std::uint32_t FailureCode() const override { return toError_ ? 0 : output_.FailureCode(); }

 private:
  platform::IConsoleSink& output_;
  bool toError_ = false;
};

}  // namespace srctally
