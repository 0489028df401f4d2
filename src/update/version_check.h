// The Info file's version for this platform against the installed version in the registry.
// User-interface thread.
#pragma once

const int kVersionChars = 64;

// "a.b.c.d[rest]" -> a*1000 + b*100 + c*10 + d in wrapping 32-bit arithmetic; 0 when fewer than
// four numbers can be read.
unsigned ParseVersionNumber(const wchar_t* text);

// True when the Info file offers a newer package for this platform. Fills remoteVersion with the
// Version text read (empty when missing or unusable).
bool IsNewerPackageAvailable(wchar_t remoteVersion[kVersionChars]);
