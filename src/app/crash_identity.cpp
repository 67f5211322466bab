// Crash dump identity from the program's version data.
#include "app/crash_identity.h"

#include "platform/file_system.h"
#include "runtime/version_info.h"

namespace srctally {
namespace {

bool ReadString(const CVersionInfo& version, WStringView name, WString& text) {
  const char16_t* value = nullptr;
  std::uint32_t length = 0;
  if (!version.QueryStringValue(name, value, length)) return false;
  // The value ends at its terminating NUL or after the length the data gives, whichever
  // comes first, so damaged data cannot make the copy run past the block.
  WStringView view = value != nullptr ? WStringView(value, length) : WStringView();
  view = view.substr(0, view.find(u'\0'));
  text.assign(view.substr(0, kDumpPathCapacity - 1));
  return true;
}

}  // namespace

bool ReadCrashIdentity(CrashIdentity& identity) {
  WString programPath;
  if (!platform::GetModuleFilePath(programPath)) return false;
  CVersionInfo version;
  if (!version.LoadFromFile(programPath)) return false;
  if (!ReadString(version, u"CompanyName", identity.companyName)) return false;
  if (!ReadString(version, u"ProductName", identity.productName)) return false;
  identity.programFileName = WString(platform::FindFileName(programPath));
  identity.hasVersion = true;
  identity.version[0] = version.MajorVersion();
  identity.version[1] = version.MinorVersion();
  identity.version[2] = version.BuildNumber();
  identity.version[3] = version.RevisionNumber();
  return true;
}

}  // namespace srctally
