// An arrived Info file judged and read through one handle: the file is held (others may only
// read it) from before its judgement until its Platform section's values have been read, so the
// values are those of the bytes judged. Any thread; the Download thread uses it.
#pragma once
#include <windows.h>

#include "info/info_values.h"

// True when the Info file at `path`, of `fileBytes` bytes, has at least one of the four platform
// sections (kInfoSections). A page that is not an Info file (a login page, a proxy's error page,
// answered with status 200) has none; a file that leaves some platforms out still is one.
bool HasPlatformSection(const wchar_t* path, ULONGLONG fileBytes);

// Judges the Info file at `path`, open as `held` (OpenHeldFile: others may only read it), through
// that handle (FindInfoFileRefusal with `publicKey`) and, when it is accepted and has a platform
// section, reads `section`'s values into *values while the caller still holds it. Returns the
// refusal as one debugger-output line (*values then empty), or null.
const wchar_t* ReadJudgedInfoFile(HANDLE held, const wchar_t* path, const wchar_t* publicKey, const wchar_t* section,
                                  PlatformValues* values);

// Test seam, null in the program: called by ReadJudgedInfoFile with the file's path while `held`
// holds the accepted file, before its values are read, so that a test can probe the caller's hold.
// Set before the thread that judges starts.
extern void (*g_infoJudgementProbe)(const wchar_t* path);
