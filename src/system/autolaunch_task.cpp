// RemoveAutoLaunchTask: deletes the auto-launch task through the Task Scheduler 2.0 interfaces.
// Once at start-up, on the removal thread, while the user-interface thread creates the windows:
// the scheduler's library and service take tens of milliseconds that need not delay the dialog.
//
// MinGW's import libraries lack the Task Scheduler's class and interface IDs, so they are
// defined here under names of our own.
#include "system/autolaunch_task.h"

#include <windows.h>
#include <objbase.h>
#include <taskschd.h>

#include "base/owners.h"

const wchar_t kAutoLaunchTaskName[] = L"Execute Qentra For Auto Launcher Task";
HANDLE g_taskRemovalThread = nullptr;
HANDLE g_taskSecurityReturned = nullptr;
void (*g_taskRemovalPause)(TaskRemovalStep step) = nullptr;

namespace {

const CLSID kTaskSchedulerClass = {0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
const IID kTaskServiceInterface = {0x2FABA4C7, 0x4DA9, 0x4013, {0x96, 0x97, 0x20, 0xCC, 0x3F, 0xD4, 0x0F, 0x85}};

// Connects the service to the local computer under the calling user: four empty VARIANTs.
HRESULT ConnectLocally(ITaskService* service) {
  VARIANT server, user, domain, password;
  VariantInit(&server);
  VariantInit(&user);
  VariantInit(&domain);
  VariantInit(&password);
  HRESULT result = service->Connect(server, user, domain, password);
  VariantClear(&server);
  VariantClear(&user);
  VariantClear(&domain);
  VariantClear(&password);
  return result;
}

HRESULT GetRootFolder(ITaskService* service, ITaskFolder** folder) {
  Bstr root(L"\\");
  if (!root.get()) return E_OUTOFMEMORY;
  return service->GetFolder(root.get(), folder);
}

} // namespace

int RemoveAutoLaunchTask() {
  if (g_taskRemovalPause) g_taskRemovalPause(kBeforeTaskSecurity);
  HRESULT security = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  if (g_taskSecurityReturned) SetEvent(g_taskSecurityReturned);
  if (FAILED(security)) {
    OutputDebugStringW(L"CoInitializeSecurity failed.\n");
    return 0;
  }
  ComPtr<ITaskService> service;
  if (FAILED(CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER, kTaskServiceInterface,
                              service.ReceiveVoid()))) {
    OutputDebugStringW(L"Failed to create an instance of ITaskService.\n");
    return 0;
  }
  if (FAILED(ConnectLocally(service.get()))) {
    OutputDebugStringW(L"ITaskService::Connect failed.\n");
    return 0;
  }
  ComPtr<ITaskFolder> folder;
  if (FAILED(GetRootFolder(service.get(), folder.Receive()))) {
    OutputDebugStringW(L"Cannot get Root Folder pointer.\n");
    return 0;
  }
  Bstr taskName(kAutoLaunchTaskName);
  if (!taskName.get()) {
    // Out of memory: the deletion cannot even be attempted.
    OutputDebugStringW(L"Cannot allocate the task name.\n");
    return 0;
  }
  if (g_taskRemovalPause) g_taskRemovalPause(kBeforeTaskDeletion);
  // A missing task, or one this user may not delete, is no concern of ours: the result is ignored.
  folder->DeleteTask(taskName.get(), 0);
  // The folder goes before the service: locals are destroyed in reverse order.
  return 1;
}

namespace {

DWORD WINAPI TaskRemovalThread(void*) {
  // The thread's own membership of the multithreaded apartment; the starter's holds the apartment
  // (and the COM security set here) after this one leaves it.
  HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  RemoveAutoLaunchTask();
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

} // namespace

void StartAutoLaunchTaskRemoval() {
  if (!g_taskSecurityReturned) g_taskSecurityReturned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_taskRemovalThread = CreateThread(nullptr, 0, TaskRemovalThread, nullptr, 0, nullptr);
  if (!g_taskRemovalThread) RemoveAutoLaunchTask();
}

void WaitForTaskRemovalSecurity(DWORD boundMs) {
  if (!g_taskRemovalThread) return; // it ran here and now
  // The thread's end counts too; without the event, only the end (or the bound) can be seen.
  HANDLE waits[2] = {g_taskRemovalThread, g_taskSecurityReturned};
  WaitForMultipleObjects(g_taskSecurityReturned ? 2 : 1, waits, FALSE, boundMs);
}

void WaitForAutoLaunchTaskRemoval(DWORD boundMs) {
  if (!g_taskRemovalThread) return;
  WaitForSingleObject(g_taskRemovalThread, boundMs);
  // A thread still running keeps running without its handle, and ends with its work.
  CloseHandle(g_taskRemovalThread);
  g_taskRemovalThread = nullptr;
}
