// The Info file's version for this platform against the installed version in the registry.
// User-interface thread.
#pragma once

#include "info/version_number.h"

// True when the Info file offers a newer package for this platform. Fills remoteVersion with the
// Version text read, or leaves it empty when that text is unusable (missing, fewer than four
// numbers, or 64 characters or more); an unusable Version is never newer.
bool IsNewerPackageAvailable(wchar_t remoteVersion[kVersionChars]);
