// Platform detection: which Info file section serves this Windows edition, decided once at
// start-up on the user-interface thread.
#pragma once

const int kPlatformSectionChars = 64;

// The Info file section for this platform; empty until DetectPlatform finds a supported
// workstation. Written once by DetectPlatform (UI thread), read by every Info file read.
extern wchar_t g_platformSection[kPlatformSectionChars];

// Returns 62, 61, 60 or 51 for a supported workstation (and fills g_platformSection), else 0.
int DetectPlatform();
