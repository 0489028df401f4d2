// The Autolaunch key in the machine-wide registry: the `installed` marker this program writes,
// and the `installed_version` it reads. User-interface thread.
#pragma once

extern const wchar_t kAutolaunchKey[]; // under HKEY_LOCAL_MACHINE

// Sets the Cancel flag, then writes installed = 1; returns 1 always.
int WriteInstallMarker();
