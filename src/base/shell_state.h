// The process-wide state of the updater's shell that every layer reads: the module, the two
// windows, and the workflow state. Plain variables shared across threads without locks; a
// change takes effect at the reader's next look.
#pragma once
#include <windows.h>

extern HINSTANCE g_instance; // this module; set first by StartInstance, read for icons and dialogs
extern HWND g_mainWindow;    // hidden main window: owner of the dialog and of every message box,
                             // target of the Workflow message; set by StartInstance
extern HWND g_dialog;        // updater dialog; set by StartInstance once CreateDialogParamW returns

enum WorkflowStage { kStageIdle = 0, kStageInfoFile = 1, kStagePackage = 2 };

extern volatile LONG g_updateMode;    // 0 or 1; written once by the command-line reading
extern volatile LONG g_workflowStage; // a WorkflowStage; written by the two begin operations
extern volatile LONG g_cancelFlag;    // 1 aborts the running download at its next progress report;
                                      // written by the UI thread and the Watchdog, read by the sink

// Ends the dialog with the given result and destroys the main window: the one way every ending
// of the workflow and of the dialog leaves, through the Shutdown sequence. UI thread.
void EndUpdater(INT_PTR dialogResult);
