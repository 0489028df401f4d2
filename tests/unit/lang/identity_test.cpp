// What the built PlinthwareUpdater.exe says about itself, read back from its resources: the
// VERSIONINFO strings and numbers, and icon 131 with all six sizes.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "res/resource.h"
#include "shipped_languages.h"
#include "support/test_support.h"

namespace {

#pragma pack(push, 2)
struct IconGroupEntry { // one image in an RT_GROUP_ICON resource
  BYTE width;           // 0 means 256
  BYTE height;
  BYTE colours;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytes;
  WORD id;
};
struct IconGroupHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
#pragma pack(pop)

std::wstring UpdaterExe() { return WindowsPathFromEnvironment(L"PLINTHWARE_UPDATER_EXE"); }

std::vector<BYTE> VersionInfo() {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(UpdaterExe().c_str(), &ignored);
  std::vector<BYTE> block(size);
  if (size == 0 || !GetFileVersionInfoW(UpdaterExe().c_str(), 0, size, block.data())) block.clear();
  return block;
}

TEST(Identity, VersionStringsNameTheProductAndItsMaker) {
  std::vector<BYTE> block = VersionInfo();
  ASSERT_FALSE(block.empty()) << "no VERSIONINFO in " << testing_support::Narrow(UpdaterExe()) << ", error "
                              << GetLastError();
  struct Expected {
    const wchar_t* name;
    const wchar_t* value;
  } const kStrings[] = {
      {L"CompanyName", L"Orvane"},
      {L"FileDescription", L"Plinthware Updater"},
      {L"ProductName", L"Plinthware"},
      {L"FileVersion", PLINTHWARE_EXPECTED_VERSION},
      {L"ProductVersion", PLINTHWARE_EXPECTED_VERSION},
      {L"OriginalFilename", L"PlinthwareUpdater.exe"},
  };
  // The language and code page the block declares are the ones its strings are stored under.
  WORD* translation = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, 4u);
  EXPECT_EQ(0x0409, translation[0]);
  EXPECT_EQ(1200, translation[1]);
  for (const Expected& e : kStrings) {
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + e.name;
    wchar_t* value = nullptr;
    UINT chars = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars))
        << testing_support::Narrow(e.name) << " is missing";
    EXPECT_STREQ(e.value, value) << testing_support::Narrow(e.name);
  }
}

TEST(Identity, FixedVersionNumbersAreTheProjectVersion) {
  std::vector<BYTE> block = VersionInfo();
  ASSERT_FALSE(block.empty());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
  EXPECT_EQ(VS_FFI_SIGNATURE, fixed->dwSignature);
  const DWORD high = MAKELONG(PLINTHWARE_EXPECTED_MINOR, PLINTHWARE_EXPECTED_MAJOR);
  const DWORD low = MAKELONG(0, PLINTHWARE_EXPECTED_PATCH);
  EXPECT_EQ(high, fixed->dwFileVersionMS) << std::hex << fixed->dwFileVersionMS;
  EXPECT_EQ(low, fixed->dwFileVersionLS) << std::hex << fixed->dwFileVersionLS;
  EXPECT_EQ(high, fixed->dwProductVersionMS);
  EXPECT_EQ(low, fixed->dwProductVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
}

TEST(Identity, IconHoldsSixSizesAndEachLoadsAtItsSize) {
  HMODULE exe = LoadLibraryExW(UpdaterExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(nullptr, exe) << GetLastError();
  HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(IDI_PLINTHWARE), MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
  ASSERT_NE(nullptr, found);
  const BYTE* group = static_cast<const BYTE*>(LockResource(LoadResource(exe, found)));
  ASSERT_NE(nullptr, group);
  ASSERT_GE(SizeofResource(exe, found), sizeof(IconGroupHeader));
  const IconGroupHeader* header = reinterpret_cast<const IconGroupHeader*>(group);
  ASSERT_EQ(1, header->type);
  ASSERT_EQ(SizeofResource(exe, found), sizeof(IconGroupHeader) + header->count * sizeof(IconGroupEntry));
  const IconGroupEntry* entries = reinterpret_cast<const IconGroupEntry*>(group + sizeof(IconGroupHeader));
  std::set<int> sizes;
  for (int i = 0; i < header->count; ++i) {
    int width = entries[i].width ? entries[i].width : 256;
    int height = entries[i].height ? entries[i].height : 256;
    EXPECT_EQ(width, height);
    EXPECT_EQ(32, entries[i].bitCount) << width;
    sizes.insert(width);
  }
  EXPECT_EQ((std::set<int>{16, 20, 24, 32, 48, 256}), sizes);

  for (int size : {16, 20, 24, 32, 48, 256}) {
    HICON icon = static_cast<HICON>(LoadImageW(exe, MAKEINTRESOURCEW(IDI_PLINTHWARE), IMAGE_ICON, size, size, 0));
    ASSERT_NE(nullptr, icon) << size;
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour = {};
    GetObjectW(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(size, colour.bmWidth);
    EXPECT_EQ(size, colour.bmHeight);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  FreeLibrary(exe);
}

} // namespace
