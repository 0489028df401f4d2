// The Autolaunch key in the machine-wide registry: the `installed` marker this program writes,
// and the `installed_version` it reads. User-interface thread.
#pragma once

// "SOFTWARE\Orvane\autolaunch" under HKEY_LOCAL_MACHINE, native (64-bit) view. Constant; read by
// WriteInstallMarker and IsNewerPackageAvailable.
extern const wchar_t kAutolaunchKey[];

// Sets the Cancel flag, then writes installed = 1; returns 1 always.
int WriteInstallMarker();
