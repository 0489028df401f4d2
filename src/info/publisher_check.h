// The package's Authenticode publisher: its signature, its signer's certificate chain, usage,
// common name and key, checked against a publisher pinned at build time. No process-wide state
// beyond the pins; runs on the calling thread (the Installer thread, InfoCheck).
#pragma once
#include <windows.h>

#include "info/package_check.h"

// The publisher every package must be signed by: PLINTHWARE_PACKAGE_PUBLISHER from the build,
// empty when packages are not pinned. Read-only, any thread.
extern const wchar_t kPackagePublisher[];

// The signer's keys a package may be signed with besides: PLINTHWARE_PACKAGE_PUBLISHER_KEYS from
// the build, SHA-256 hashes of the DER SubjectPublicKeyInfo (64 hexadecimal digits each, separated
// by ';'); empty when keys are not pinned. Read-only, any thread.
extern const wchar_t kPackagePublisherKeys[];

// The longest signer name kept, terminator included; a pin must be shorter.
const int kPublisherNameChars = 256;

enum PublisherVerdict {
  kPublisherMatches,      // signed, digest right, chain trusted and in time, the pinned name (and key)
  kPublisherNoSignature,  // no Authenticode signature at all
  kPublisherBadDigest,    // signed, but the file is not what was signed
  kPublisherUntrusted,    // the signer's chain does not end in a trusted root (or is distrusted)
  kPublisherExpired,      // a certificate of the chain is not valid now
  kPublisherWrongUsage,   // the signer's certificate is not for code signing
  kPublisherOther,        // a good signature by someone else: no single CN equal to the pinned name
  kPublisherOtherKey,     // the pinned name, but none of the pinned keys
  kPublisherNotVerified,  // anything else that kept the signature from being verified
};

struct PublisherCheck {
  PublisherVerdict verdict;
  HRESULT code;                        // the error that decided it; S_OK when it matches
  wchar_t signer[kPublisherNameChars]; // the signer's one common name (control characters as '?'),
                                       // empty when unknown, absent, repeated or too long
  wchar_t key[kSha256TextChars + 1];   // the hash of the signer's key, lowercase; empty when unknown
};

// Checks the file open as `file` (read access; `path` names the same file) against `publisher`
// and, unless null or empty, `keys` (as kPackagePublisherKeys): WinVerifyTrust without UI or
// revocation retrieval, then the signer's chain once more on its own (no trust error, the
// Authenticode chain policy), the code-signing usage on the signer's certificate, its subject's
// one common name equal to `publisher` in full, and its key among `keys`. wintrust and crypt32
// come from the system directory. Fills *result; true only for kPublisherMatches.
bool CheckPackagePublisher(const wchar_t* path, HANDLE file, const wchar_t* publisher, const wchar_t* keys,
                           PublisherCheck* result);

// "no signature", "bad digest", "untrusted chain", "expired", "not for code signing",
// "other publisher", "other key", "not verified", or "" for a match.
const wchar_t* PublisherVerdictText(PublisherVerdict verdict);
