// Runs RemoveAutoLaunchTask in a fresh process, as start-up does: COM initialised for the
// multithreaded apartment first, because the COM security it sets holds for the process's life.
//   task_probe once | twice | without-com
// Exit code: the result of the one call, or 10 * first + second for "twice". Writes
// "task probe done\n" to the debugger output last, so that a listener knows it has everything.
#include <windows.h>
#include <objbase.h>

#include <string>

#include "system/autolaunch_task.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring mode = argc > 1 ? argv[1] : L"once";
  bool withCom = mode != L"without-com";
  if (withCom) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  int result = RemoveAutoLaunchTask();
  if (mode == L"twice") result = result * 10 + RemoveAutoLaunchTask();
  if (withCom) CoUninitialize();
  OutputDebugStringW(L"task probe done\n");
  return result;
}
