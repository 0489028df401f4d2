// InfoCheck's report of an Info file's [info] section (Expires and Serial) as a build with the
// Info-file key judges it, for check, verify and sign. Single-threaded.
#pragma once
#include <windows.h>

#include "output.h"

// Expires closer than this is warned about: the time left to re-sign and publish.
const ULONGLONG kExpiryWarningSeconds = 7 * 24 * 60 * 60;

// Prints Expires and Serial of the Info file at `infoPath` with the clock `now` (FILETIME units),
// and a WARNING when Expires is less than a week away. A malformed value is a PROBLEM; a past
// Expires is a PROBLEM when `keyed` (the report is for a build with the key, which refuses the
// file) and a WARNING otherwise. Returns the number of problems.
int ReportFreshness(const wchar_t* infoPath, bool keyed, ULONGLONG now, const Output& out);

// The clock in FILETIME units (UTC).
ULONGLONG CurrentFileTime();
