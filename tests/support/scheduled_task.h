// Asking the Task Scheduler itself whether a task exists, for the unit and end-to-end tests of
// the auto-launch task removal. COM must be initialised on the calling thread.
#pragma once
#include <windows.h>

namespace testing_support {

// S_OK when the root folder holds a task named `name`, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
// when it does not, or the failure met on the way.
HRESULT LookUpScheduledTask(const wchar_t* name);

} // namespace testing_support
