// One updater per user at a time: the first start holds a lock file in the user's temporary
// folder (PlinthwareUpdater.lock) for its whole life; a second start finds it held and ends before
// it touches anything. UI thread, at start-up.
#pragma once
#include <windows.h>

// True when this is the only updater of the user: the lock is then held until the process ends
// (never closed; Windows closes it with the process, and the file goes with it). False when
// another updater holds it: then that process's own dialog (or message box), if visible, is
// brought to the front, one debugger line is written, and the caller ends at once. A lock that
// cannot be made, or that a program other than an updater holds, does not stop the updater.
bool ClaimSingleInstance();
