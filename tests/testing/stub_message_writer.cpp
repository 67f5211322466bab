// TEMPORARY: definitions of the message writer's virtual functions so the tests link
// before the message writer itself lands. Drop this file when it does.
#include "console/message_writer.h"

namespace srctally {

std::int32_t CMessageWriter::Write(std::optional<WStringView>, std::uint32_t, HResult, FormatArgs) {
  return 0;
}
std::int32_t CMessageWriter::WriteResource(std::uint32_t, std::uint32_t, HResult, FormatArgs) {
  return 0;
}
void CMessageWriter::Output(WStringView) {}
void CMessageWriter::Indent(bool) {}
std::int32_t CMessageWriter::Prompt(std::uint32_t) { return 0; }
bool CMessageWriter::GetKindPrefix(std::uint32_t, WStringView&) const { return false; }

}  // namespace srctally
