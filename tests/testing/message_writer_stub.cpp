// Placeholder definitions of the message writer's out-of-line members, so test writers
// derived from it link before the real message writer is part of the build. Delete this
// file once src/console/message_writer.cpp exists.
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
