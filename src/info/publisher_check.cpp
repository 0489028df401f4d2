// The Authenticode check of a downloaded package. wintrust and crypt32 are not imported: they are
// loaded from the system directory when a package is checked, like the other libraries outside
// the KnownDLLs. Runs on the calling thread; no process-wide state.
#include "info/publisher_check.h"

#include <wchar.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "base/system_libraries.h"

namespace {

typedef LONG(WINAPI* WinVerifyTrustFunction)(HWND, GUID*, LPVOID);
typedef CRYPT_PROVIDER_DATA*(WINAPI* ProvDataFunction)(HANDLE);
typedef CRYPT_PROVIDER_SGNR*(WINAPI* ProvSignerFunction)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
typedef CRYPT_PROVIDER_CERT*(WINAPI* ProvCertFunction)(CRYPT_PROVIDER_SGNR*, DWORD);
typedef BOOL(WINAPI* ChainPolicyFunction)(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA,
                                          PCERT_CHAIN_POLICY_STATUS);
typedef DWORD(WINAPI* NameStringFunction)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);

struct TrustProcedures {
  WinVerifyTrustFunction verify;
  ProvDataFunction provData;
  ProvSignerFunction signer;
  ProvCertFunction cert;
  ChainPolicyFunction policy;
  NameStringFunction name;
};

bool LoadProcedures(TrustProcedures* p) {
  p->verify = ProcedureAs<WinVerifyTrustFunction>(SystemProcedure(L"wintrust.dll", "WinVerifyTrust"));
  p->provData = ProcedureAs<ProvDataFunction>(SystemProcedure(L"wintrust.dll", "WTHelperProvDataFromStateData"));
  p->signer = ProcedureAs<ProvSignerFunction>(SystemProcedure(L"wintrust.dll", "WTHelperGetProvSignerFromChain"));
  p->cert = ProcedureAs<ProvCertFunction>(SystemProcedure(L"wintrust.dll", "WTHelperGetProvCertFromChain"));
  p->policy = ProcedureAs<ChainPolicyFunction>(SystemProcedure(L"crypt32.dll", "CertVerifyCertificateChainPolicy"));
  p->name = ProcedureAs<NameStringFunction>(SystemProcedure(L"crypt32.dll", "CertGetNameStringW"));
  return p->verify && p->provData && p->signer && p->cert && p->policy && p->name;
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
  case CERT_E_UNTRUSTEDROOT:
  case CERT_E_UNTRUSTEDTESTROOT:
  case CERT_E_UNTRUSTEDCA:
  case CERT_E_CHAINING:
  case CERT_E_REVOKED:
  case CERT_E_WRONG_USAGE:
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

// The signer's simple display name into result->signer; left empty when it does not fit.
void ReadSignerName(const TrustProcedures& p, CRYPT_PROVIDER_SGNR* signer, PublisherCheck* result) {
  CRYPT_PROVIDER_CERT* leaf = p.cert(signer, 0);
  if (!leaf || !leaf->pCert) return;
  DWORD needed = p.name(leaf->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (needed <= 1 || needed > static_cast<DWORD>(kPublisherNameChars)) return;
  p.name(leaf->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, result->signer, kPublisherNameChars);
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
  case kPublisherOther:
    return L"other publisher";
  default:
    return L"not verified";
  }
}

bool CheckPackagePublisher(const wchar_t* path, HANDLE file, const wchar_t* publisher, PublisherCheck* result) {
  result->verdict = kPublisherNotVerified;
  result->code = E_NOTIMPL;
  result->signer[0] = L'\0';
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
  if (signer) ReadSignerName(p, signer, result);
  if (code == S_OK) code = signer ? CheckChain(p, signer->pChainContext) : TRUST_E_NO_SIGNER_CERT;
  if (code != S_OK) {
    result->verdict = VerdictOf(code);
  } else if (!publisher || wcscmp(result->signer, publisher) != 0 || result->signer[0] == L'\0') {
    code = CERT_E_CN_NO_MATCH;
    result->verdict = kPublisherOther;
  } else {
    result->verdict = kPublisherMatches;
  }
  result->code = code;

  data.dwStateAction = WTD_STATEACTION_CLOSE;
  p.verify(noWindow, &action, &data);
  return result->verdict == kPublisherMatches;
}
