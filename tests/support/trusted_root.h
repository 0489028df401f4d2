// A test root certificate trusted in the test run's own Wine prefix: added to the LocalMachine Root
// store (Wine keeps it in the prefix's registry, never in the machine's trust store), and taken out
// again by deleting its registry key, since Wine 8.0 does not save CertDeleteCertificateFromStore.
// Test thread only; programs that change it share the CTest lock `trust_store`.
#pragma once
#include <windows.h>

#include <string>

namespace testing_support {

class ScopedTrustedRoot {
public:
  // Trusts the DER certificate in `derPath`; trusted() says whether that worked.
  explicit ScopedTrustedRoot(const std::wstring& derPath);
  ~ScopedTrustedRoot(); // untrusts it again
  ScopedTrustedRoot(const ScopedTrustedRoot&) = delete;
  ScopedTrustedRoot& operator=(const ScopedTrustedRoot&) = delete;

  bool Trust();   // (again) in the Root store
  bool Untrust(); // out of it; true when its key is gone
  bool trusted() const { return trusted_; }
  // HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\<SHA-1>, empty when unreadable.
  const std::wstring& key() const { return key_; }

private:
  std::string der_;
  std::wstring key_;
  bool trusted_ = false;
};

} // namespace testing_support
