// Removal of the product family's auto-launch scheduled task, at every start, on the
// user-interface thread after COM has been initialised (multithreaded apartment).
#pragma once

// "Execute Qentra For Auto Launcher Task", in the root task folder.
extern const wchar_t kAutoLaunchTaskName[];

// Returns 1 when the deletion was attempted, 0 when an earlier step failed (with a diagnostic).
// Sets the process-wide COM security, so only the first call in a process gets past step 1.
int RemoveAutoLaunchTask();
