// keygen, sign and verify for Info files. The private key stays in the maker's file and in this
// tool; the updater only ever holds the public key. Single-threaded.
#include "info_signing.h"

#include <bcrypt.h>
#include <string.h>
#include <strsafe.h>

#include "freshness_report.h"
#include "info_report.h"
#include "info/info_freshness.h"
#include "info/info_signature.h"

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#endif

namespace {

const char kKeyFileComment[] = "# Plinthware Info-file signing key (ECDSA P-256). Secret: never publish or ship it.\r\n";

// The whole of a file, on the process heap (the caller frees it); null when it cannot be read or
// is larger than an Info file may be.
BYTE* ReadWhole(const wchar_t* path, DWORD* size) {
  *size = 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER length = {};
  BYTE* bytes = nullptr;
  if (GetFileSizeEx(file, &length) && length.QuadPart <= kInfoFileMaxBytes) {
    DWORD want = static_cast<DWORD>(length.QuadPart);
    bytes = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, want + 1));
    DWORD got = 0;
    if (bytes && (!ReadFile(file, bytes, want, &got, nullptr) || got != want)) {
      HeapFree(GetProcessHeap(), 0, bytes);
      bytes = nullptr;
    }
    *size = want;
  }
  CloseHandle(file);
  return bytes;
}

bool WriteWhole(const wchar_t* path, DWORD disposition, const void* a, DWORD aSize, const void* b, DWORD bSize) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, a, aSize, &written, nullptr) && written == aSize;
  ok = ok && (bSize == 0 || (WriteFile(file, b, bSize, &written, nullptr) && written == bSize));
  ok = CloseHandle(file) && ok;
  return ok;
}

bool Sha256(const BYTE* data, size_t size, BYTE digest[32]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!NT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = NT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
            NT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0)) &&
            NT_SUCCESS(BCryptFinishHash(hash, digest, 32, 0));
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

// Room SetFreshnessKeys may add: a line ending, the section's name and two keys with their values
// and line endings.
const size_t kFreshnessRoom = 128;

bool IsBlank(BYTE c) { return c == ' ' || c == '\t'; }

// True when the line [start, end) is `name` followed by blanks and '=', after blanks, in any case.
bool IsKeyLine(const BYTE* bytes, size_t start, size_t end, const char* name) {
  while (start < end && IsBlank(bytes[start])) ++start;
  for (; *name; ++name, ++start) {
    if (start == end || (bytes[start] | 0x20) != (static_cast<BYTE>(*name) | 0x20)) return false;
  }
  while (start < end && IsBlank(bytes[start])) ++start;
  return start < end && bytes[start] == '=';
}

// True when the line [start, end), from its '[', names section `name` in any case.
bool IsSectionLine(const BYTE* bytes, size_t start, size_t end, const char* name) {
  if (start == end || bytes[start++] != '[') return false;
  for (; *name; ++name, ++start) {
    if (start == end || (bytes[start] | 0x20) != (static_cast<BYTE>(*name) | 0x20)) return false;
  }
  return start < end && bytes[start] == ']';
}

struct Edit {
  size_t from, to; // the bytes replaced (from == to: inserted)
  char text[96];
};

// The body `bytes` (without its signature line) with the [info] section's keys set: for each of
// `names` with a value, the first line of that key in the first [info] section replaced, a
// missing one put right below the section's name, a missing section added at the end, all with
// the file's own line endings, and the last line ended. Writes at most size + kFreshnessRoom
// bytes to `out`; returns their number.
size_t SetFreshnessKeys(const BYTE* bytes, size_t size, const char* const names[2], const char* const values[2],
                        BYTE* out) {
  const char* ending = "\r\n";
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] == '\n') {
      ending = i > 0 && bytes[i - 1] == '\r' ? "\r\n" : "\n";
      break;
    }
  }
  size_t found[2] = {size + 1, size + 1}, foundEnd[2] = {0, 0}, below = size + 1;
  bool inInfo = false, seen = false, headerEnded = true;
  for (size_t start = 0; start < size;) {
    size_t next = start;
    while (next < size && bytes[next] != '\n') ++next;
    size_t end = next > start && bytes[next - 1] == '\r' ? next - 1 : next;
    if (next < size) ++next;
    size_t first = start;
    while (first < end && IsBlank(bytes[first])) ++first;
    if (first < end && bytes[first] == '[') {
      inInfo = !seen && IsSectionLine(bytes, first, end, "info");
      if (inInfo) {
        seen = true;
        below = next;
        headerEnded = next > end;
      }
    } else if (inInfo) {
      for (int k = 0; k < 2; ++k) {
        if (found[k] > size && IsKeyLine(bytes, start, end, names[k])) {
          found[k] = start;
          foundEnd[k] = end;
        }
      }
    }
    start = next;
  }
  Edit edits[3] = {};
  int count = 0;
  if (!seen) {
    Edit& edit = edits[count++];
    edit.from = edit.to = size;
    if (size > 0 && bytes[size - 1] != '\n') StringCchCatA(edit.text, ARRAYSIZE(edit.text), ending);
    StringCchCatA(edit.text, ARRAYSIZE(edit.text), "[info]");
    StringCchCatA(edit.text, ARRAYSIZE(edit.text), ending);
  }
  for (int k = 0; k < 2; ++k) {
    if (!values[k]) continue;
    Edit* edit = nullptr;
    if (found[k] <= size) {
      edit = &edits[count++];
      edit->from = found[k];
      edit->to = foundEnd[k];
    } else if (seen) {
      edit = &edits[count++];
      edit->from = edit->to = below;
      if (!headerEnded) StringCchCatA(edit->text, ARRAYSIZE(edit->text), ending);
      headerEnded = true;
    } else {
      edit = &edits[0]; // the new section
    }
    StringCchCatA(edit->text, ARRAYSIZE(edit->text), names[k]);
    StringCchCatA(edit->text, ARRAYSIZE(edit->text), "=");
    StringCchCatA(edit->text, ARRAYSIZE(edit->text), values[k]);
    if (found[k] > size) StringCchCatA(edit->text, ARRAYSIZE(edit->text), ending);
  }
  // In the order of the file; an insertion below the name comes before a line replaced there.
  for (int i = 1; i < count; ++i) {
    for (int j = i; j > 0 && (edits[j].from < edits[j - 1].from ||
                              (edits[j].from == edits[j - 1].from && edits[j].to == edits[j].from &&
                               edits[j - 1].to != edits[j - 1].from));
         --j) {
      Edit swap = edits[j];
      edits[j] = edits[j - 1];
      edits[j - 1] = swap;
    }
  }
  size_t written = 0, at = 0;
  for (int i = 0; i < count; ++i) {
    CopyMemory(out + written, bytes + at, edits[i].from - at);
    written += edits[i].from - at;
    size_t length = static_cast<size_t>(lstrlenA(edits[i].text));
    CopyMemory(out + written, edits[i].text, length);
    written += length;
    at = edits[i].to;
  }
  CopyMemory(out + written, bytes + at, size - at);
  written += size - at;
  // The signed part ends with a line ending, so that the signature is a line of its own.
  if (written > 0 && out[written - 1] != '\n') {
    size_t length = static_cast<size_t>(lstrlenA(ending));
    CopyMemory(out + written, ending, length);
    written += length;
  }
  return written;
}

} // namespace

bool ReadPrivateKeyFile(const wchar_t* keyPath, BYTE key[kPrivateKeyBytes]) {
  DWORD size = 0;
  BYTE* bytes = ReadWhole(keyPath, &size);
  if (!bytes) return false;
  // The key is the one line that is not a comment.
  bool found = false;
  for (DWORD start = 0; start < size && !found;) {
    DWORD end = start;
    while (end < size && bytes[end] != '\n') ++end;
    DWORD stop = end > start && bytes[end - 1] == '\r' ? end - 1 : end;
    if (stop > start && bytes[start] != '#') {
      found = DecodeBase64Exact(reinterpret_cast<const char*>(bytes + start), stop - start, key, kPrivateKeyBytes);
      if (!found) break;
    }
    start = end + 1;
  }
  SecureZeroMemory(bytes, size);
  HeapFree(GetProcessHeap(), 0, bytes);
  return found;
}

bool SignP256(const BYTE key[kPrivateKeyBytes], const BYTE* data, size_t size, BYTE signature[64]) {
  BYTE digest[32] = {};
  if (!Sha256(data, size, digest)) return false;
  BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPrivateKeyBytes] = {};
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
  CopyMemory(blob, &header, sizeof header);
  CopyMemory(blob + sizeof header, key, kPrivateKeyBytes);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!NT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
  BCRYPT_KEY_HANDLE handle = nullptr;
  ULONG written = 0;
  bool ok = NT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &handle, blob, sizeof blob, 0)) &&
            NT_SUCCESS(BCryptSignHash(handle, nullptr, digest, sizeof digest, signature, 64, &written, 0)) &&
            written == 64;
  if (handle) BCryptDestroyKey(handle);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  SecureZeroMemory(blob, sizeof blob);
  return ok;
}

int KeygenCommand(const wchar_t* givenKeyPath, const Output& out) {
  wchar_t keyPath[MAX_PATH] = {};
  if (!ResolvePath(givenKeyPath, keyPath, out)) return kCheckUsage;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!NT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    Print(out, L"CNG has no ECDSA P-256 here\n");
    return kCheckUsage;
  }
  BCRYPT_KEY_HANDLE key = nullptr;
  BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPrivateKeyBytes] = {};
  ULONG size = 0;
  bool ok = NT_SUCCESS(BCryptGenerateKeyPair(algorithm, &key, 256, 0)) && NT_SUCCESS(BCryptFinalizeKeyPair(key, 0)) &&
            NT_SUCCESS(BCryptExportKey(key, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob, &size, 0)) &&
            size == sizeof blob;
  if (key) BCryptDestroyKey(key);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  char privateText[129 + 2] = {}, publicText[89] = {};
  ok = ok && EncodeBase64(blob + sizeof(BCRYPT_ECCKEY_BLOB), kPrivateKeyBytes, privateText, 129) &&
       EncodeBase64(blob + sizeof(BCRYPT_ECCKEY_BLOB), 64, publicText, sizeof publicText);
  SecureZeroMemory(blob, sizeof blob);
  if (!ok) {
    Print(out, L"no key pair could be made\n");
    return kCheckUsage;
  }
  StringCchCatA(privateText, ARRAYSIZE(privateText), "\r\n");
  // CREATE_NEW: an existing key is never overwritten.
  bool written = WriteWhole(keyPath, CREATE_NEW, kKeyFileComment, sizeof kKeyFileComment - 1, privateText,
                            static_cast<DWORD>(lstrlenA(privateText)));
  SecureZeroMemory(privateText, sizeof privateText);
  if (!written) {
    Print(out, L"cannot create the key file %s (error %lu; an existing file is never replaced)\n", keyPath,
          GetLastError());
    return kCheckUsage;
  }
  Print(out, L"private key written to %s\n", keyPath);
  Print(out, L"-DPLINTHWARE_INFO_PUBLIC_KEY=%S\n", publicText);
  return kCheckPassed;
}

// Decides the Serial and Expires texts sign writes: `serial` always, `expires` empty to keep the
// file's own. False (with a message) when they cannot be decided as asked.
static bool DecideFreshness(const wchar_t* infoPath, const SignOptions& options, ULONGLONG now,
                            char serial[kInfoSerialChars], char expires[kInfoTimeChars], const Output& out) {
  InfoFreshness own;
  ReadInfoFreshness(infoPath, &own);
  ULONGLONG value = 1;
  if (options.serial) {
    if (!ParseInfoSerial(options.serial, &value)) {
      Print(out, L"--serial %s is not a decimal number from 0 to 18446744073709551615\n", options.serial);
      return false;
    }
    if (own.serialValid && value < own.serial) {
      Print(out, L"--serial %llu is below the file's own %llu: every PC that accepted that one would refuse it\n",
            value, own.serial);
      return false;
    }
  } else if (own.hasSerial && !own.serialValid) {
    Print(out, L"the file's Serial %s cannot be raised: give --serial\n", own.serialText);
    return false;
  } else if (own.hasSerial && own.serial == ~0ull) {
    Print(out, L"the file's Serial %llu cannot be raised: it is the largest there is\n", own.serial);
    return false;
  } else if (own.hasSerial) {
    value = own.serial + 1;
  }
  StringCchPrintfA(serial, kInfoSerialChars, "%llu", value);
  expires[0] = '\0';
  if (options.expiresDays < 0 || options.expiresDays > kMaxExpiresDays) {
    Print(out, L"--expires takes 1 to %d days\n", kMaxExpiresDays);
    return false;
  }
  if (options.expiresDays == 0) {
    if (own.hasExpires && !own.expiresValid) {
      Print(out, L"the file's Expires %s is not a UTC time YYYY-MM-DDTHH:MM:SSZ: give --expires\n", own.expiresText);
      return false;
    }
    return true;
  }
  // Whole seconds, as the form has them.
  const ULONGLONG second = 10000000;
  wchar_t text[kInfoTimeChars] = {};
  if (!FormatInfoTime(now - now % second + static_cast<ULONGLONG>(options.expiresDays) * 86400 * second, text)) {
    Print(out, L"the clock gives no expiry in the years 1601 to 9999\n");
    return false;
  }
  for (int i = 0; i < kInfoTimeChars; ++i) expires[i] = static_cast<char>(text[i]); // ASCII digits and signs
  return true;
}

int SignCommand(const wchar_t* givenInfoPath, const wchar_t* givenKeyPath, const SignOptions& options,
                const Output& out) {
  wchar_t infoPath[MAX_PATH] = {}, keyPath[MAX_PATH] = {};
  if (!ResolvePath(givenInfoPath, infoPath, out) || !ResolvePath(givenKeyPath, keyPath, out)) return kCheckUsage;
  ULONGLONG now = CurrentFileTime();
  char serial[kInfoSerialChars] = {}, expires[kInfoTimeChars] = {};
  if (!DecideFreshness(infoPath, options, now, serial, expires, out)) return kCheckUsage;
  BYTE key[kPrivateKeyBytes] = {};
  if (!ReadPrivateKeyFile(keyPath, key)) {
    Print(out, L"cannot read a private key from %s\n", keyPath);
    return kCheckUsage;
  }
  DWORD size = 0;
  BYTE* bytes = ReadWhole(infoPath, &size);
  BYTE* body = bytes ? static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size + kFreshnessRoom)) : nullptr;
  if (!body) {
    SecureZeroMemory(key, sizeof key);
    if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
    Print(out, L"cannot read the Info file %s (or it is larger than 1 MiB)\n", infoPath);
    return kCheckUsage;
  }
  // An old signature line at the end is replaced, well-formed or not.
  size_t keep = size;
  BYTE old[64] = {};
  if (!SplitSignedInfo(bytes, size, &keep, old)) {
    size_t end = size;
    while (end > 0 && (bytes[end - 1] == '\n' || bytes[end - 1] == '\r')) --end;
    size_t start = end;
    while (start > 0 && bytes[start - 1] != '\n') --start;
    size_t prefix = static_cast<size_t>(lstrlenA(kSignaturePrefix));
    keep = end - start >= prefix && memcmp(bytes + start, kSignaturePrefix, prefix) == 0 ? start : size;
  }
  const char* const names[2] = {"Expires", "Serial"};
  const char* const values[2] = {expires[0] ? expires : nullptr, serial};
  size_t bodySize = SetFreshnessKeys(bytes, keep, names, values, body);
  HeapFree(GetProcessHeap(), 0, bytes);
  BYTE signature[64] = {};
  bool signedOk = SignP256(key, body, bodySize, signature);
  SecureZeroMemory(key, sizeof key);
  char line[16 + kSignatureChars + 3] = {};
  StringCchCopyA(line, ARRAYSIZE(line), kSignaturePrefix);
  size_t prefix = lstrlenA(line);
  bool ok = signedOk && EncodeBase64(signature, sizeof signature, line + prefix, ARRAYSIZE(line) - prefix) &&
            SUCCEEDED(StringCchCatA(line, ARRAYSIZE(line), "\r\n")) &&
            WriteWhole(infoPath, CREATE_ALWAYS, body, static_cast<DWORD>(bodySize), line,
                       static_cast<DWORD>(lstrlenA(line)));
  HeapFree(GetProcessHeap(), 0, body);
  if (!ok) {
    Print(out, L"signing %s failed (error %lu)\n", infoPath, GetLastError());
    return kCheckUsage;
  }
  Print(out, L"signed %s\n", infoPath);
  ReportFreshness(infoPath, false, now, out);
  return kCheckPassed;
}

int SignCommand(const wchar_t* infoPath, const wchar_t* keyPath, const Output& out) {
  SignOptions options = {0, nullptr};
  return SignCommand(infoPath, keyPath, options, out);
}

int VerifyCommand(const wchar_t* givenInfoPath, const wchar_t* publicKey, const Output& out) {
  wchar_t infoPath[MAX_PATH] = {};
  if (!ResolvePath(givenInfoPath, infoPath, out)) return kCheckUsage;
  BYTE key[kPublicKeyBytes] = {};
  if (!DecodeBase64Exact(publicKey, key, sizeof key)) {
    Print(out, L"the public key is not base64 of 64 bytes\n");
    return kCheckUsage;
  }
  const wchar_t* refusal = FindInfoFileRefusal(infoPath, publicKey);
  if (refusal) {
    Print(out, L"%s", refusal);
    return kCheckProblems;
  }
  Print(out, L"signature verified: %s\n", infoPath);
  // What a build with the key does next: the expiry and the serial, which the signature covers.
  return ReportFreshness(infoPath, true, CurrentFileTime(), out) ? kCheckProblems : kCheckPassed;
}
