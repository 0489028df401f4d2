// The Workflow message: how the workers and the controller tell the main window what happened.
// Its two senders below are the only way a report reaches the user-interface thread.
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

// Codes 1 to 3 are posted: the Download thread and the Watchdog never wait for the UI thread.
// Returns what PostMessageW returns.
BOOL PostWorkflow(WorkflowCode code);

// Codes 4 and 5 are sent: the sender waits until the controller has handled them (the Installer
// thread, so that its outcome is seen before it ends). Returns the main window's answer.
LRESULT SendWorkflow(WorkflowCode code, LPARAM lParam);
