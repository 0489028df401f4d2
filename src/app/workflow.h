// The workflow controller: what the main window does with each Workflow message, and the
// workflow state that the other subsystems read and write. User-interface thread only, except
// where a variable's comment names another thread.
#pragma once
#include <windows.h>

// Private message to the main window: wParam carries a WorkflowCode, lParam is read by code 5 only.
const UINT WM_WORKFLOW = 0x999;

enum WorkflowCode {
  kWorkflowAborted = 1,        // posted by the Download thread: the transfer ended with E_ABORT
  kWorkflowFinished = 2,       // posted by the Download thread: the whole file is stored
  kWorkflowFailed = 3,         // posted by the Watchdog on a stall, or at once for a failed download
  kWorkflowInstallerReady = 4, // sent by the controller to itself while it handles code 2 in stage 2
  kWorkflowInstallerExited = 5 // sent by the Installer thread; lParam is an InstallerOutcome
};

enum InstallerOutcome {
  kInstallerSucceeded = 0, // exit code 0, 3010 or 1641
  kInstallerFailed = 1     // could not be started, or exited with any other code
};

enum WorkflowStage { kStageIdle = 0, kStageInfoFile = 1, kStagePackage = 2 };

// Plain 32-bit integers shared across threads without locks; a change takes effect at the
// reader's next look.
extern volatile LONG g_updateMode;    // 0 or 1; written once by the command-line reading
extern volatile LONG g_workflowStage; // a WorkflowStage; written by the two begin operations
extern volatile LONG g_cancelFlag;    // 1 aborts the running download at its next progress report;
                                      // written by the UI thread and the Watchdog, read by the sink
extern HANDLE g_installerThread;      // set at code 4, closed and cleared at code 5

// Runs the controller for one Workflow message; MainWindowProc returns 0 for every one.
void OnWorkflowMessage(WPARAM code, LPARAM lParam);

// Ends the dialog with the given result and destroys the main window: the one way every ending
// of the workflow and of the dialog leaves, through the Shutdown sequence.
void EndUpdater(INT_PTR dialogResult);
