// The two senders of the Workflow message, to the main window. Any thread.
#include "base/workflow_protocol.h"

#include "base/shell_state.h"

BOOL PostWorkflow(WorkflowCode code) { return PostMessageW(g_mainWindow, WM_WORKFLOW, code, 0); }

LRESULT SendWorkflow(WorkflowCode code, LPARAM lParam) {
  return SendMessageW(g_mainWindow, WM_WORKFLOW, code, lParam);
}
