// A few lines of PE reading for the hardening tests: the optional header's DLL characteristics,
// the section flags, the imported DLL names and the COFF symbol names of an executable file.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace hardening_testing {

struct PeSection {
  std::string name;
  DWORD characteristics = 0;
};

struct PeImage {
  bool valid = false;   // a 64-bit PE image was read
  std::string problem;  // why not, when it was not
  WORD dllCharacteristics = 0;
  std::vector<PeSection> sections;
  std::vector<std::string> imports; // DLL names as the import table spells them
  std::vector<std::string> importedFunctions; // "dll!function" (or "dll!#ordinal") for each import
  std::vector<std::string> symbols; // COFF symbol names (empty for a stripped image)
};

PeImage ReadPeImage(const std::wstring& path);

} // namespace hardening_testing
