// The Authenticode check of a downloaded package. wintrust and crypt32 are not imported: they are
// loaded from the system directory when a package is checked, like the other libraries outside
// the KnownDLLs. Runs on the calling thread; no process-wide state.
#include "info/publisher_check.h"

#include <string.h>
#include <wchar.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "base/system_libraries.h"
#include "info/sha256.h"

namespace {

typedef LONG(WINAPI* WinVerifyTrustFunction)(HWND, GUID*, LPVOID);
typedef CRYPT_PROVIDER_DATA*(WINAPI* ProvDataFunction)(HANDLE);
typedef CRYPT_PROVIDER_SGNR*(WINAPI* ProvSignerFunction)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
typedef CRYPT_PROVIDER_CERT*(WINAPI* ProvCertFunction)(CRYPT_PROVIDER_SGNR*, DWORD);
typedef BOOL(WINAPI* ChainPolicyFunction)(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA,
                                          PCERT_CHAIN_POLICY_STATUS);
typedef BOOL(WINAPI* DecodeFunction)(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, PCRYPT_DECODE_PARA, void*, DWORD*);
typedef BOOL(WINAPI* EncodeFunction)(DWORD, LPCSTR, const void*, DWORD, PCRYPT_ENCODE_PARA, void*, DWORD*);
typedef BOOL(WINAPI* UsageFunction)(PCCERT_CONTEXT, DWORD, PCERT_ENHKEY_USAGE, DWORD*);

struct TrustProcedures {
  WinVerifyTrustFunction verify;
  ProvDataFunction provData;
  ProvSignerFunction signer;
  ProvCertFunction cert;
  ChainPolicyFunction policy;
  DecodeFunction decode;
  EncodeFunction encode;
  UsageFunction usage;
};

bool LoadProcedures(TrustProcedures* p) {
  p->verify = ProcedureAs<WinVerifyTrustFunction>(SystemProcedure(L"wintrust.dll", "WinVerifyTrust"));
  p->provData = ProcedureAs<ProvDataFunction>(SystemProcedure(L"wintrust.dll", "WTHelperProvDataFromStateData"));
  p->signer = ProcedureAs<ProvSignerFunction>(SystemProcedure(L"wintrust.dll", "WTHelperGetProvSignerFromChain"));
  p->cert = ProcedureAs<ProvCertFunction>(SystemProcedure(L"wintrust.dll", "WTHelperGetProvCertFromChain"));
  p->policy = ProcedureAs<ChainPolicyFunction>(SystemProcedure(L"crypt32.dll", "CertVerifyCertificateChainPolicy"));
  p->decode = ProcedureAs<DecodeFunction>(SystemProcedure(L"crypt32.dll", "CryptDecodeObjectEx"));
  p->encode = ProcedureAs<EncodeFunction>(SystemProcedure(L"crypt32.dll", "CryptEncodeObjectEx"));
  p->usage = ProcedureAs<UsageFunction>(SystemProcedure(L"crypt32.dll", "CertGetEnhancedKeyUsage"));
  return p->verify && p->provData && p->signer && p->cert && p->policy && p->decode && p->encode && p->usage;
}

PublisherVerdict VerdictOf(HRESULT code) {
  switch (code) {
  case TRUST_E_NOSIGNATURE:
  case TRUST_E_SUBJECT_FORM_UNKNOWN: // not an executable: it cannot carry a signature
    return kPublisherNoSignature;
  case TRUST_E_BAD_DIGEST:
    return kPublisherBadDigest;
  case CERT_E_EXPIRED:
    return kPublisherExpired;
  case CERT_E_WRONG_USAGE:
    return kPublisherWrongUsage;
  case CERT_E_UNTRUSTEDROOT:
  case CERT_E_UNTRUSTEDTESTROOT:
  case CERT_E_UNTRUSTEDCA:
  case CERT_E_CHAINING:
  case CERT_E_REVOKED:
  case TRUST_E_EXPLICIT_DISTRUST:
  case TRUST_E_SUBJECT_NOT_TRUSTED:
  case TRUST_E_NO_SIGNER_CERT:
    return kPublisherUntrusted;
  default:
    return kPublisherNotVerified;
  }
}

// The error a chain's trust status stands for, when the chain policy named none.
HRESULT ChainStatusCode(DWORD status) {
  if (status & CERT_TRUST_IS_NOT_TIME_VALID) return CERT_E_EXPIRED;
  if (status & CERT_TRUST_IS_EXPLICIT_DISTRUST) return TRUST_E_EXPLICIT_DISTRUST;
  if (status & CERT_TRUST_IS_REVOKED) return CERT_E_REVOKED;
  if (status & CERT_TRUST_IS_UNTRUSTED_ROOT) return CERT_E_UNTRUSTEDROOT;
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return CERT_E_WRONG_USAGE;
  return CERT_E_CHAINING;
}

// The signer's chain, checked here as well as by WinVerifyTrust: Wine 8.0's provider skips the
// chain policy for leaves issued with SHA-256, and a second look costs nothing on Windows.
HRESULT CheckChain(const TrustProcedures& p, PCCERT_CHAIN_CONTEXT chain) {
  if (!chain) return TRUST_E_NO_SIGNER_CERT;
  CERT_CHAIN_POLICY_PARA para = {};
  para.cbSize = sizeof para;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof status;
  if (!p.policy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, &para, &status)) return HRESULT_FROM_WIN32(GetLastError());
  if (status.dwError != 0) return static_cast<HRESULT>(status.dwError);
  DWORD trust = chain->TrustStatus.dwErrorStatus;
  return trust == CERT_TRUST_NO_ERROR ? S_OK : ChainStatusCode(trust);
}

// True when the leaf names code signing among its usages itself: Wine's WinVerifyTrust and chain
// policy take a serverAuth-only leaf, and a leaf without usages is not taken either.
bool ForCodeSigning(const TrustProcedures& p, PCCERT_CONTEXT leaf) {
  DWORD size = 0;
  if (!p.usage(leaf, 0, nullptr, &size) || size == 0) return false;
  CERT_ENHKEY_USAGE* usage = static_cast<CERT_ENHKEY_USAGE*>(HeapAlloc(GetProcessHeap(), 0, size));
  bool found = false;
  if (usage && p.usage(leaf, 0, usage, &size)) {
    for (DWORD i = 0; i < usage->cUsageIdentifier && !found; ++i) {
      found = usage->rgpszUsageIdentifier[i] && strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0;
    }
  }
  if (usage) HeapFree(GetProcessHeap(), 0, usage);
  return found;
}

// The subject's common name attribute when it has exactly one; null otherwise.
const CERT_RDN_ATTR* OnlyCommonName(const CERT_NAME_INFO* name) {
  const CERT_RDN_ATTR* found = nullptr;
  for (DWORD i = 0; i < name->cRDN; ++i) {
    for (DWORD j = 0; j < name->rgRDN[i].cRDNAttr; ++j) {
      const CERT_RDN_ATTR& attribute = name->rgRDN[i].rgRDNAttr[j];
      if (!attribute.pszObjId || strcmp(attribute.pszObjId, szOID_COMMON_NAME) != 0) continue;
      if (found) return nullptr;
      found = &attribute;
    }
  }
  return found;
}

// The attribute's whole value as UTF-16 into `text` (terminated); returns its length, or -1 when
// it is no string type read here, has a byte outside ASCII in an 8-bit type, or does not fit.
// X509_NAME gives UTF-8 and BMP strings as UTF-16 and the 8-bit types as their bytes, each with
// its exact length (X509_UNICODE_NAME counts a terminator under Wine, not on Windows).
int ValueText(const CERT_RDN_ATTR& attribute, wchar_t (&text)[kPublisherNameChars]) {
  const CERT_RDN_VALUE_BLOB& value = attribute.Value;
  DWORD type = attribute.dwValueType & CERT_RDN_TYPE_MASK;
  bool wide = type == CERT_RDN_UTF8_STRING || type == CERT_RDN_BMP_STRING;
  bool narrow = type == CERT_RDN_PRINTABLE_STRING || type == CERT_RDN_IA5_STRING || type == CERT_RDN_T61_STRING ||
                type == CERT_RDN_VISIBLE_STRING || type == CERT_RDN_NUMERIC_STRING;
  DWORD length = wide ? value.cbData / sizeof(wchar_t) : value.cbData;
  if (!(wide || narrow) || length >= static_cast<DWORD>(kPublisherNameChars)) return -1;
  for (DWORD i = 0; i < length; ++i) {
    if (narrow && value.pbData[i] >= 0x80) return -1;
    text[i] = wide ? reinterpret_cast<const wchar_t*>(value.pbData)[i] : static_cast<wchar_t>(value.pbData[i]);
  }
  text[length] = L'\0';
  return static_cast<int>(length);
}

// True when the leaf's subject has one common name and it is `publisher` over its whole decoded
// length: a NUL inside cannot end the comparison, and no OU, O or e-mail stands in for a missing
// CN as in the simple display name. The CN goes to result->signer (control characters as '?').
bool CommonNameMatches(const TrustProcedures& p, PCCERT_CONTEXT leaf, const wchar_t* publisher,
                       PublisherCheck* result) {
  CERT_NAME_INFO* name = nullptr;
  DWORD size = 0;
  const CERT_NAME_BLOB& subject = leaf->pCertInfo->Subject;
  if (!p.decode(X509_ASN_ENCODING, X509_NAME, subject.pbData, subject.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                &name, &size))
    return false;
  const CERT_RDN_ATTR* cn = OnlyCommonName(name);
  wchar_t text[kPublisherNameChars] = {};
  int length = cn ? ValueText(*cn, text) : -1;
  LocalFree(name);
  for (int i = 0; i < length; ++i) result->signer[i] = text[i] < L' ' ? L'?' : text[i];
  if (length >= 0) result->signer[length] = L'\0';
  return length > 0 && publisher && wcslen(publisher) == static_cast<size_t>(length) &&
         wmemcmp(text, publisher, length) == 0;
}

// The SHA-256 of the leaf's DER SubjectPublicKeyInfo into result->key, lowercase hex.
void ReadKeyHash(const TrustProcedures& p, PCCERT_CONTEXT leaf, PublisherCheck* result) {
  BYTE* der = nullptr;
  DWORD size = 0;
  if (!p.encode(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &leaf->pCertInfo->SubjectPublicKeyInfo,
                CRYPT_ENCODE_ALLOC_FLAG, nullptr, &der, &size))
    return;
  Sha256Hash hash;
  BYTE digest[kSha256Bytes] = {};
  if (hash.ok() && hash.Add(der, size) && hash.Finish(digest)) {
    const wchar_t digits[] = L"0123456789abcdef";
    for (int i = 0; i < kSha256Bytes; ++i) {
      result->key[2 * i] = digits[digest[i] >> 4];
      result->key[2 * i + 1] = digits[digest[i] & 0x0F];
    }
    result->key[kSha256TextChars] = L'\0';
  }
  LocalFree(der);
}

// True when `key` is one of the ';'-separated hashes of `keys`, in either case.
bool KeyPinned(const wchar_t* keys, const wchar_t* key) {
  if (!IsSha256Text(key)) return false;
  for (const wchar_t* next = keys; *next;) {
    const wchar_t* end = wcschr(next, L';');
    size_t length = end ? static_cast<size_t>(end - next) : wcslen(next);
    if (length == static_cast<size_t>(kSha256TextChars) && _wcsnicmp(next, key, length) == 0) return true;
    next += end ? length + 1 : length;
  }
  return false;
}

} // namespace

const wchar_t* PublisherVerdictText(PublisherVerdict verdict) {
  switch (verdict) {
  case kPublisherMatches:
    return L"";
  case kPublisherNoSignature:
    return L"no signature";
  case kPublisherBadDigest:
    return L"bad digest";
  case kPublisherUntrusted:
    return L"untrusted chain";
  case kPublisherExpired:
    return L"expired";
  case kPublisherWrongUsage:
    return L"not for code signing";
  case kPublisherOther:
    return L"other publisher";
  case kPublisherOtherKey:
    return L"other key";
  default:
    return L"not verified";
  }
}

bool CheckPackagePublisher(const wchar_t* path, HANDLE file, const wchar_t* publisher, const wchar_t* keys,
                           PublisherCheck* result) {
  result->verdict = kPublisherNotVerified;
  result->code = E_NOTIMPL;
  result->signer[0] = L'\0';
  result->key[0] = L'\0';
  TrustProcedures p = {};
  if (!LoadProcedures(&p)) return false;

  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path;
  fileInfo.hFile = file; // the held handle: the bytes checked are the bytes that will run
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  // Nothing is fetched from the network while a package waits: revocation lists and missing
  // issuers come from the cache or not at all.
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
  HRESULT code = static_cast<HRESULT>(p.verify(noWindow, &action, &data));

  CRYPT_PROVIDER_DATA* provider = data.hWVTStateData ? p.provData(data.hWVTStateData) : nullptr;
  CRYPT_PROVIDER_SGNR* signer = provider ? p.signer(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leafCert = signer ? p.cert(signer, 0) : nullptr;
  PCCERT_CONTEXT leaf = leafCert ? leafCert->pCert : nullptr;
  bool nameMatches = leaf && CommonNameMatches(p, leaf, publisher, result);
  if (leaf) ReadKeyHash(p, leaf, result);
  if (code == S_OK) code = leaf ? CheckChain(p, signer->pChainContext) : TRUST_E_NO_SIGNER_CERT;
  if (code == S_OK && !ForCodeSigning(p, leaf)) code = CERT_E_WRONG_USAGE;
  if (code != S_OK) {
    result->verdict = VerdictOf(code);
  } else if (!nameMatches) {
    code = CERT_E_CN_NO_MATCH;
    result->verdict = kPublisherOther;
  } else if (keys && keys[0] && !KeyPinned(keys, result->key)) {
    code = CRYPT_E_NO_MATCH;
    result->verdict = kPublisherOtherKey;
  } else {
    result->verdict = kPublisherMatches;
  }
  result->code = code;

  data.dwStateAction = WTD_STATEACTION_CLOSE;
  p.verify(noWindow, &action, &data);
  return result->verdict == kPublisherMatches;
}
