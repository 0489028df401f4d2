// Whether an Info file's Location is one the updater fetches: the one rule that Begin installer
// download applies and that InfoCheck reports. Any thread.
#pragma once
#include <windows.h>

// The URL buffer's capacity, terminator included: a Location of this many characters or more
// does not fit.
const int kLocationChars = 1024;

// True for an absolute http:// or https:// address, scheme in any case, with a non-empty host.
bool IsAllowedLocation(const wchar_t* location);

// Reads `Location` from `section` of the Info file at `infoPath` into `location`. Returns null
// when it holds a usable address, otherwise the refusal as one debugger-output line (`location`
// then empty). A value that does not fit is refused rather than cut: a cut address would fetch
// something else.
const wchar_t* ReadLocation(const wchar_t* section, const wchar_t* infoPath, wchar_t location[kLocationChars]);
