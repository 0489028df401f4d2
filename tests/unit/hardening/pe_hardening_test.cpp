// The shipped executable's hardening, read from its PE headers: ASLR (with high entropy) and DEP
// flags, no section both writable and executable, stack canaries compiled in; and its manifest.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "pe_image.h"
#include "support/test_support.h"

namespace {

using hardening_testing::PeImage;
using hardening_testing::ReadPeImage;

// A built file, from the environment CTest gives this program (a Unix path under Wine).
std::wstring PathFromEnvironment(const wchar_t* name) {
  wchar_t value[2048] = {};
  DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
  if (length == 0 || length >= ARRAYSIZE(value)) return std::wstring();
  std::wstring path = value;
  if (!path.empty() && path[0] == L'/') {
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    path = L"Z:" + path; // Wine's drive for the Unix root
  }
  return path;
}

bool HasSymbol(const PeImage& image, const std::string& name) {
  for (const std::string& symbol : image.symbols) {
    if (symbol == name) return true;
  }
  return false;
}

class PeHardening : public ::testing::Test {
protected:
  void SetUp() override {
    path_ = PathFromEnvironment(L"PLINTHWARE_UPDATER_EXE");
    ASSERT_FALSE(path_.empty()) << "PLINTHWARE_UPDATER_EXE is not set: run through CTest";
    image_ = ReadPeImage(path_);
    ASSERT_TRUE(image_.valid) << image_.problem;
  }
  std::wstring path_;
  PeImage image_;
};

TEST_F(PeHardening, AslrWithHighEntropyAndDep) {
  const struct {
    const char* name;
    WORD flag;
  } rows[] = {
      {"DYNAMICBASE", IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE},
      {"HIGH_ENTROPY_VA", IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA},
      {"NX_COMPAT", IMAGE_DLLCHARACTERISTICS_NX_COMPAT},
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(image_.dllCharacteristics & row.flag)
        << row.name << " missing; DllCharacteristics 0x" << std::hex << image_.dllCharacteristics;
  }
}

TEST_F(PeHardening, NoSectionIsBothWritableAndExecutable) {
  ASSERT_FALSE(image_.sections.empty());
  for (const auto& section : image_.sections) {
    DWORD flags = section.characteristics;
    bool executable = (flags & (IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_CNT_CODE)) != 0;
    EXPECT_FALSE(executable && (flags & IMAGE_SCN_MEM_WRITE))
        << section.name << " is writable and executable: 0x" << std::hex << flags;
  }
}

// The symbols stay in the image (it is not stripped), so the canary's guard and failure handler
// show that the code was compiled with a stack protector; __chk_fail comes with the checked
// copies of _FORTIFY_SOURCE (whose presence main.cpp also insists on when compiling).
TEST_F(PeHardening, StackProtectorIsCompiledIn) {
  ASSERT_FALSE(image_.symbols.empty()) << "no symbol table: the image was stripped";
  for (const char* name : {"__stack_chk_guard", "__stack_chk_fail", "__chk_fail"}) {
    EXPECT_TRUE(HasSymbol(image_, name)) << name << " is not in the image";
  }
  // The guard is referenced from the code, not only linked in.
  EXPECT_TRUE(HasSymbol(image_, ".refptr.__stack_chk_guard")) << "no function reads the stack canary";
  // The guard is defined by the entry point's object, so the image alone would pass without one
  // protected library: each needs objects that reference it ("LIB:OBJECT: U __stack_chk_guard").
  const std::string symbols = testing_support::ReadBytes(PathFromEnvironment(L"PLINTHWARE_LIBRARY_SYMBOLS"));
  ASSERT_FALSE(symbols.empty()) << "no symbol listing of the product libraries";
  for (const char* library : {"libplinthware_base.a:", "libplinthware_info.a:", "libplinthware_core.a:"}) {
    bool guarded = false;
    for (size_t at = symbols.find(library); at != std::string::npos && !guarded; at = symbols.find(library, at + 1))
      guarded = symbols.substr(at, symbols.find('\n', at) - at).find(" U __stack_chk_guard") != std::string::npos;
    EXPECT_TRUE(guarded) << library << " has no function that reads the stack canary";
  }
}

// Every library the loader maps before wWinMain runs must be one of Windows' KnownDLLs, which
// are never searched for; the others (urlmon, wininet, psapi, bcrypt, comctl32, version) are
// loaded at run time from the system directory once the search has been restricted.
TEST_F(PeHardening, ImportsOnlyKnownDlls) {
  static const char* const kKnown[] = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
                                       "ole32.dll",    "oleaut32.dll", "msvcrt.dll", "shlwapi.dll", "comdlg32.dll"};
  ASSERT_FALSE(image_.imports.empty());
  for (std::string name : image_.imports) {
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    bool known = false;
    for (const char* k : kKnown) known = known || name == k;
    EXPECT_TRUE(known) << name << " is imported, so it is searched for beside the executable";
  }
  // Nor a function that Windows forwards from a KnownDLL to one that is not: advapi32's crypto
  // providers (cryptsp, and rsaenh behind it) and its random source (cryptbase), loaded by the
  // search order before the program could restrict it.
  static const char* const kForwarded[] = {"!Crypt", "!SystemFunction036"};
  ASSERT_FALSE(image_.importedFunctions.empty());
  for (const std::string& function : image_.importedFunctions) {
    for (const char* prefix : kForwarded) {
      EXPECT_EQ(std::string::npos, function.find(prefix)) << function << " is imported";
    }
  }
}

// XP x64 and Server 2003 (5.2) must load the program so that it can end there quietly: nothing
// Windows added with Vista may be imported (the loader would refuse the executable with a box).
TEST_F(PeHardening, ImportsNothingThatXpX64Lacks) {
  static const char* const kVistaOnly[] = {"SRWLock", "ConditionVariable", "InitOnce", "GetTickCount64",
                                           "CreateEventEx", "GetFileInformationByHandleEx", "SetDefaultDllDirectories"};
  for (const std::string& function : image_.importedFunctions) {
    for (const char* name : kVistaOnly) {
      EXPECT_EQ(std::string::npos, function.find(name)) << function << " is imported";
    }
  }
}

// The manifest the loader applies: per-monitor DPI awareness (v2, then per-monitor, then
// system-wide where those are unknown), and no supportedOS, which would make Windows after 6.2
// report its real version to the platform detection.
TEST_F(PeHardening, ManifestDeclaresDpiAwarenessAndNoSupportedOs) {
  HMODULE image = LoadLibraryExW(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  HRSRC resource = image ? FindResourceW(image, MAKEINTRESOURCEW(1), reinterpret_cast<LPCWSTR>(RT_MANIFEST)) : nullptr;
  ASSERT_NE(nullptr, resource) << "no manifest resource: " << GetLastError();
  std::string manifest(static_cast<const char*>(LockResource(LoadResource(image, resource))),
                       SizeofResource(image, resource));
  FreeLibrary(image);
  const std::pair<const char*, bool> rows[] = {
      {"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor<", true},
      {"<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>", true},
      {"supportedOS", false}};
  for (const auto& row : rows)
    EXPECT_EQ(row.second, manifest.find(row.first) != std::string::npos) << row.first << "\n" << manifest;
}

} // namespace
