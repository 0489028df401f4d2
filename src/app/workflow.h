// The workflow controller: what the main window does with each Workflow message. User-interface
// thread only. The message itself and the workflow state that the other layers read and write
// are in base/ (workflow_protocol.h, shell_state.h).
#pragma once
#include <windows.h>

#include "base/shell_state.h"
#include "base/workflow_protocol.h"

extern HANDLE g_installerThread; // set at code 4, closed and cleared at code 5

// Runs the controller for one Workflow message; MainWindowProc returns 0 for every one.
void OnWorkflowMessage(WPARAM code, LPARAM lParam);
