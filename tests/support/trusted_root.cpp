// The test root in the prefix's Root store; see trusted_root.h.
#include "support/trusted_root.h"

#include <wincrypt.h>

#include "support/test_support.h"

namespace testing_support {

ScopedTrustedRoot::ScopedTrustedRoot(const std::wstring& derPath) : der_(ReadBytes(derPath)) {
  PCCERT_CONTEXT cert = der_.empty() ? nullptr
                                     : CertCreateCertificateContext(X509_ASN_ENCODING,
                                                                    reinterpret_cast<const BYTE*>(der_.data()),
                                                                    static_cast<DWORD>(der_.size()));
  if (!cert) return;
  BYTE sha1[20] = {};
  DWORD size = sizeof sha1;
  if (CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, sha1, &size) && size == sizeof sha1) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    key_ = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
    for (BYTE b : sha1) {
      key_ += kHex[b >> 4];
      key_ += kHex[b & 15];
    }
  }
  CertFreeCertificateContext(cert);
  Trust();
}

ScopedTrustedRoot::~ScopedTrustedRoot() { Untrust(); }

bool ScopedTrustedRoot::Trust() {
  if (der_.empty() || key_.empty()) return false;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) return false;
  trusted_ = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                              static_cast<DWORD>(der_.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr) != FALSE;
  CertCloseStore(store, 0);
  return trusted_;
}

bool ScopedTrustedRoot::Untrust() {
  if (key_.empty()) return false;
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, key_.c_str());
  HKEY key = nullptr;
  bool gone = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_READ, &key) == ERROR_FILE_NOT_FOUND;
  if (key) RegCloseKey(key);
  if (gone) trusted_ = false;
  return gone;
}

} // namespace testing_support
