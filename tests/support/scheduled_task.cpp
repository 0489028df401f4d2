// See scheduled_task.h.
#include "support/scheduled_task.h"

#include <objbase.h>
#include <oleauto.h>
#include <taskschd.h>

namespace testing_support {
namespace {
// MinGW's import libraries lack these two.
const CLSID kTaskSchedulerClass = {0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
const IID kTaskServiceInterface = {0x2FABA4C7, 0x4DA9, 0x4013, {0x96, 0x97, 0x20, 0xCC, 0x3F, 0xD4, 0x0F, 0x85}};
} // namespace

HRESULT LookUpScheduledTask(const wchar_t* name) {
  ITaskService* service = nullptr;
  HRESULT result = CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER, kTaskServiceInterface,
                                    reinterpret_cast<void**>(&service));
  if (FAILED(result)) return result;
  VARIANT empty;
  VariantInit(&empty);
  result = service->Connect(empty, empty, empty, empty);
  ITaskFolder* folder = nullptr;
  BSTR root = SysAllocString(L"\\");
  if (SUCCEEDED(result)) result = service->GetFolder(root, &folder);
  SysFreeString(root);
  if (SUCCEEDED(result)) {
    BSTR taskName = SysAllocString(name);
    IRegisteredTask* task = nullptr;
    result = folder->GetTask(taskName, &task);
    if (task) task->Release();
    SysFreeString(taskName);
    folder->Release();
  }
  service->Release();
  return result;
}

} // namespace testing_support
