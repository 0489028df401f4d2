// Reads an executable's headers from its file bytes, bounds-checked at every step, so that a
// hardening test can look at what the linker produced.
#include "pe_image.h"

#include <cstring>

#include "support/test_support.h"

namespace hardening_testing {
namespace {

template <typename T>
bool At(const std::string& bytes, size_t offset, T* value) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
  std::memcpy(value, bytes.data() + offset, sizeof(T));
  return true;
}

std::string CString(const std::string& bytes, size_t offset) {
  if (offset >= bytes.size()) return std::string();
  size_t end = bytes.find('\0', offset);
  return bytes.substr(offset, end == std::string::npos ? std::string::npos : end - offset);
}

// File offset of a relative virtual address, through the section that holds it.
bool FileOffset(const std::vector<IMAGE_SECTION_HEADER>& headers, DWORD rva, size_t* offset) {
  for (const IMAGE_SECTION_HEADER& section : headers) {
    DWORD size = section.Misc.VirtualSize ? section.Misc.VirtualSize : section.SizeOfRawData;
    if (rva >= section.VirtualAddress && rva < section.VirtualAddress + size) {
      *offset = static_cast<size_t>(rva - section.VirtualAddress) + section.PointerToRawData;
      return true;
    }
  }
  return false;
}

} // namespace

PeImage ReadPeImage(const std::wstring& path) {
  PeImage image;
  const std::string bytes = testing_support::ReadBytes(path);
  IMAGE_DOS_HEADER dos = {};
  IMAGE_NT_HEADERS64 nt = {};
  if (!At(bytes, 0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
    image.problem = "no MZ header";
    return image;
  }
  size_t ntOffset = static_cast<size_t>(dos.e_lfanew);
  if (!At(bytes, ntOffset, &nt) || nt.Signature != IMAGE_NT_SIGNATURE ||
      nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    image.problem = "no 64-bit PE header";
    return image;
  }
  image.dllCharacteristics = nt.OptionalHeader.DllCharacteristics;

  std::vector<IMAGE_SECTION_HEADER> headers;
  size_t sectionOffset = ntOffset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
  for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER header = {};
    if (!At(bytes, sectionOffset + i * sizeof header, &header)) {
      image.problem = "section table cut short";
      return image;
    }
    headers.push_back(header);
    PeSection section;
    section.name.assign(reinterpret_cast<const char*>(header.Name), strnlen(reinterpret_cast<const char*>(header.Name), 8));
    section.characteristics = header.Characteristics;
    image.sections.push_back(section);
  }

  const IMAGE_DATA_DIRECTORY& importDirectory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  size_t descriptorOffset = 0;
  if (importDirectory.VirtualAddress && FileOffset(headers, importDirectory.VirtualAddress, &descriptorOffset)) {
    for (IMAGE_IMPORT_DESCRIPTOR descriptor = {}; At(bytes, descriptorOffset, &descriptor) && descriptor.Name;
         descriptorOffset += sizeof descriptor) {
      size_t nameOffset = 0;
      if (!FileOffset(headers, descriptor.Name, &nameOffset)) continue;
      std::string dll = CString(bytes, nameOffset);
      image.imports.push_back(dll);
      // The lookup table: one 64-bit entry per function, an ordinal or the RVA of hint and name.
      DWORD table = descriptor.OriginalFirstThunk ? descriptor.OriginalFirstThunk : descriptor.FirstThunk;
      size_t entryOffset = 0;
      if (!FileOffset(headers, table, &entryOffset)) continue;
      for (ULONGLONG entry = 0; At(bytes, entryOffset, &entry) && entry != 0; entryOffset += sizeof entry) {
        size_t hintOffset = 0;
        if (entry & IMAGE_ORDINAL_FLAG64) {
          image.importedFunctions.push_back(dll + "!#" + std::to_string(entry & 0xFFFF));
        } else if (FileOffset(headers, static_cast<DWORD>(entry), &hintOffset)) {
          image.importedFunctions.push_back(dll + "!" + CString(bytes, hintOffset + sizeof(WORD)));
        }
      }
    }
  }

  // COFF symbols: 18-byte records, a name inline (8 bytes) or at an offset in the string table
  // that follows them; auxiliary records are skipped.
  size_t symbolOffset = nt.FileHeader.PointerToSymbolTable;
  size_t stringTable = symbolOffset + static_cast<size_t>(nt.FileHeader.NumberOfSymbols) * 18;
  for (DWORD i = 0; symbolOffset && i < nt.FileHeader.NumberOfSymbols; ++i) {
    size_t record = symbolOffset + static_cast<size_t>(i) * 18;
    if (record + 18 > bytes.size()) break;
    DWORD zeroes = 0, nameAt = 0;
    At(bytes, record, &zeroes);
    At(bytes, record + 4, &nameAt);
    if (zeroes == 0) {
      image.symbols.push_back(CString(bytes, stringTable + nameAt));
    } else {
      image.symbols.push_back(std::string(bytes.data() + record, strnlen(bytes.data() + record, 8)));
    }
    i += static_cast<unsigned char>(bytes[record + 17]); // auxiliary records
  }
  image.valid = true;
  return image;
}

} // namespace hardening_testing
