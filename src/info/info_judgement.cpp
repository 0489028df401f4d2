// Judging an arrived Info file and reading its values under one held handle; see info_judgement.h.
#include "info/info_judgement.h"

#include "info/info_signature.h"

void (*g_infoJudgementProbe)(const wchar_t* path) = nullptr;

bool HasPlatformSection(const wchar_t* path, ULONGLONG fileBytes) {
  // Every name is made of the file's own characters and ends where its ']' or line ending was,
  // so the names of a file never take more characters than it has bytes, plus the list's end.
  if (fileBytes > kInfoFileMaxBytes) return false;
  DWORD chars = static_cast<DWORD>(fileBytes) + 2;
  wchar_t* names = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, chars * sizeof(wchar_t)));
  if (!names) return false;
  GetPrivateProfileSectionNamesW(names, chars, path);
  bool found = false;
  for (const wchar_t* name = names; *name && !found; name += lstrlenW(name) + 1) {
    for (const wchar_t* platform : kInfoSections) found = found || lstrcmpiW(name, platform) == 0;
  }
  HeapFree(GetProcessHeap(), 0, names);
  return found;
}

const wchar_t* ReadJudgedInfoFile(HANDLE held, const wchar_t* path, const wchar_t* publicKey, const wchar_t* section,
                                  PlatformValues* values) {
  ZeroMemory(values, sizeof *values);
  const wchar_t* refusal = FindInfoFileRefusal(held, publicKey);
  if (refusal) return refusal;
  // The profile reads open the file by its path for reading, which the hold allows; nothing can
  // have replaced it since the bytes were judged.
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(held, &size) || !HasPlatformSection(path, static_cast<ULONGLONG>(size.QuadPart))) {
    return L"Info file refused: no platform section\n";
  }
  if (g_infoJudgementProbe) g_infoJudgementProbe(path);
  ReadPlatformValues(section, path, values);
  return nullptr;
}
