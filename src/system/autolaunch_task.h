// Removal of the product family's auto-launch scheduled task, at every start, on a thread of its
// own that start-up runs alongside the creation of its windows and waits for before the dialog shows.
#pragma once
#include <windows.h>

// "Execute Qentra For Auto Launcher Task", in the root task folder.
extern const wchar_t kAutoLaunchTaskName[];

// Returns 1 when the deletion was attempted, 0 when an earlier step failed (with a diagnostic).
// Sets the process-wide COM security, so only the first call in a process gets past step 1.
int RemoveAutoLaunchTask();

// How long start-up waits for the removal before it shows the dialog anyway.
const DWORD kTaskRemovalBoundMs = 2000;
// How long start-up waits for the removal to return from CoInitializeSecurity before it makes its
// first window anyway: that call takes microseconds once the thread runs.
const DWORD kTaskSecurityBoundMs = 1000;

// The points where the test seam below is called.
enum TaskRemovalStep { kBeforeTaskSecurity, kBeforeTaskDeletion };

extern HANDLE g_taskRemovalThread;   // the removal's thread; started and closed by start-up (UI thread)
extern HANDLE g_taskSecurityReturned;// set by the removal once CoInitializeSecurity has returned;
                                     // made by start-up, never closed (a late removal still sets it)
extern void (*g_taskRemovalPause)(TaskRemovalStep step); // test seam, null in the program: called by
                                     // the removal before those steps, so that a test can make it slow

// Starts RemoveAutoLaunchTask on a thread of its own with its own COM initialisation (multithreaded
// apartment). Call it with COM initialised for the multithreaded apartment on the calling thread,
// which keeps that apartment, and with it the process's COM security, alive beyond the removal.
// When no thread can be made, the removal runs here and now.
void StartAutoLaunchTaskRemoval();

// Waits up to `boundMs` for the removal to have returned from CoInitializeSecurity (or ended).
void WaitForTaskRemovalSecurity(DWORD boundMs);

// Waits up to `boundMs` for the removal to end. Past the bound it is left to finish on its own.
void WaitForAutoLaunchTaskRemoval(DWORD boundMs);
