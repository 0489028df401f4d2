// Linked into PlinthwareUpdaterSlowTask only, a test build of the updater: makes its auto-launch
// task removal slow, as a busy Task Scheduler service would, right before the deletion (or, as a
// thread the system has not run yet would be, before its first step).
//   PLINTHWARE_TEST_TASK_PAUSE_MS  how long the removal pauses (default 0)
//   PLINTHWARE_TEST_TASK_PAUSE_AT  "security": before CoInitializeSecurity instead
//   PLINTHWARE_TEST_TASK_GATE      optional: the name of an event that ends the pause early when set
//   PLINTHWARE_TEST_TASK_PAUSED    optional: the name of an event set as the pause begins
#include <windows.h>

#include "system/autolaunch_task.h"

namespace {

void PauseRemoval(TaskRemovalStep step) {
  wchar_t value[64] = {};
  DWORD length = GetEnvironmentVariableW(L"PLINTHWARE_TEST_TASK_PAUSE_AT", value, ARRAYSIZE(value));
  bool atSecurity = length > 0 && length < ARRAYSIZE(value) && lstrcmpW(value, L"security") == 0;
  if (atSecurity != (step == kBeforeTaskSecurity)) return;
  length = GetEnvironmentVariableW(L"PLINTHWARE_TEST_TASK_PAUSE_MS", value, ARRAYSIZE(value));
  DWORD pauseMs = length > 0 && length < ARRAYSIZE(value) ? static_cast<DWORD>(_wtoi(value)) : 0;
  wchar_t gate[128] = {};
  length = GetEnvironmentVariableW(L"PLINTHWARE_TEST_TASK_GATE", gate, ARRAYSIZE(gate));
  HANDLE event = length > 0 && length < ARRAYSIZE(gate) ? OpenEventW(SYNCHRONIZE, FALSE, gate) : nullptr;
  wchar_t paused[128] = {};
  length = GetEnvironmentVariableW(L"PLINTHWARE_TEST_TASK_PAUSED", paused, ARRAYSIZE(paused));
  HANDLE pausedEvent = length > 0 && length < ARRAYSIZE(paused) ? OpenEventW(EVENT_MODIFY_STATE, FALSE, paused) : nullptr;
  if (pausedEvent) {
    SetEvent(pausedEvent);
    CloseHandle(pausedEvent);
  }
  if (event) {
    WaitForSingleObject(event, pauseMs);
    CloseHandle(event);
  } else {
    Sleep(pauseMs); // the slowness itself, not a wait for something
  }
}

struct InstallPause {
  InstallPause() { g_taskRemovalPause = PauseRemoval; }
} s_installPause; // before wWinMain, so before start-up begins the removal

} // namespace
