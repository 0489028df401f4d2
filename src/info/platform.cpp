// Platform detection: maps the version and product type that Windows reports to this process
// onto a Platform code and an Info file section. Runs once, on the user-interface thread.
//
// The version is what GetVersionExW tells this process. The manifest declares no supported
// systems, so every Windows after 6.2 reports 6.2 and is served as "platform_win8".
#include "info/platform.h"

#include <windows.h>
#include <strsafe.h>

wchar_t g_platformSection[kPlatformSectionChars] = {};

namespace {

struct SupportedPlatform {
  DWORD major;
  DWORD minor;
  int code;
  const wchar_t* section;
};

const SupportedPlatform kSupportedPlatforms[] = {
    {6, 2, 62, L"platform_win8"},
    {6, 1, 61, L"platform_win7"},
    {6, 0, 60, L"platform_winvista"},
    {5, 1, 51, L"platform_winxp"},
};

} // namespace

int DetectPlatform() {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof version;
#ifdef _MSC_VER
#pragma warning(suppress : 4996) // GetVersionExW is deprecated; its manifest-bound answer is the point
#endif
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
  // A failed call leaves the structure zeroed: product type 0, so unsupported.
  if (version.wProductType != VER_NT_WORKSTATION) return 0;
  for (const SupportedPlatform& platform : kSupportedPlatforms) {
    if (version.dwMajorVersion == platform.major && version.dwMinorVersion == platform.minor) {
      StringCchCopyW(g_platformSection, kPlatformSectionChars, platform.section);
      return platform.code;
    }
  }
  return 0;
}
