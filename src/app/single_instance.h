// One updater per user at a time: the first start holds a named mutex for its whole life; a
// second start finds it taken and ends before it touches anything. UI thread, at start-up.
#pragma once
#include <windows.h>

// The mutex's name for the user whose token `token` is: "Global\PlinthwareUpdater-" and the
// user's SID as text (S-1-5-21-...). False when the token cannot be read or the name does not
// fit `name` (`chars` characters).
bool SingleInstanceName(HANDLE token, wchar_t* name, size_t chars);

// True when this is the only updater of the user: the mutex is then held until the process ends
// (never closed; Windows releases it with the process). False when another one holds it: then
// its dialog, if visible, is brought to the front, one debugger line is written, and the caller
// ends at once. A mutex that cannot be made for another reason does not stop the updater.
bool ClaimSingleInstance();
