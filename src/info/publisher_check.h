// The package's Authenticode publisher: its signature, its signer's certificate chain and the
// signer's name, checked against a publisher pinned at build time. No process-wide state beyond
// the pinned name; runs on the calling thread (the Installer thread, InfoCheck).
#pragma once
#include <windows.h>

// The publisher every package must be signed by: PLINTHWARE_PACKAGE_PUBLISHER from the build,
// empty when packages are not pinned. Read-only, any thread.
extern const wchar_t kPackagePublisher[];

// The longest signer name kept, terminator included; a pin must be shorter.
const int kPublisherNameChars = 256;

enum PublisherVerdict {
  kPublisherMatches,      // signed, digest right, chain trusted and in time, the pinned name
  kPublisherNoSignature,  // no Authenticode signature at all
  kPublisherBadDigest,    // signed, but the file is not what was signed
  kPublisherUntrusted,    // the signer's chain does not end in a trusted root (or is distrusted)
  kPublisherExpired,      // a certificate of the chain is not valid now
  kPublisherOther,        // a good signature by someone else
  kPublisherNotVerified,  // anything else that kept the signature from being verified
};

struct PublisherCheck {
  PublisherVerdict verdict;
  HRESULT code;                        // the error that decided it; S_OK when it matches
  wchar_t signer[kPublisherNameChars]; // the signer's simple display name, empty when unknown
};

// Checks the file open as `file` (read access; `path` names the same file) against `publisher`:
// WinVerifyTrust without UI or revocation retrieval, then the signer's chain once more on its
// own (no trust error, the Authenticode chain policy), then the exact name. wintrust and crypt32
// come from the system directory. Fills *result; true only for kPublisherMatches.
bool CheckPackagePublisher(const wchar_t* path, HANDLE file, const wchar_t* publisher, PublisherCheck* result);

// "no signature", "bad digest", "untrusted chain", "expired", "other publisher", "not verified",
// or "" for a match.
const wchar_t* PublisherVerdictText(PublisherVerdict verdict);
