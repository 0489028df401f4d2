// The auto-launch task at the updater's start, against the Task Scheduler of the Wine prefix: a
// task registered beforehand (with schtasks, as an installer of the product family would) is gone
// once the Offer shows, also when the removal is slow (a test build that pauses it), a missing one
// leaves no diagnostic, and an unsupported edition, which ends before the removal, leaves a
// registered task in place. A removal slower than start-up's bound does not hold the dialog (or the
// Update-mode check) back beyond it.
#include <gtest/gtest.h>

#include <objbase.h>

#include "base/owners.h"
#include "e2e/e2e_support.h"
#include "support/scheduled_task.h"

namespace {

using testing_support::LookUpScheduledTask;

const wchar_t kTaskName[] = L"Execute Qentra For Auto Launcher Task";


const char* const kDiagnostics[] = {"CoInitializeSecurity failed.\n", "Failed to create an instance of ITaskService.\n",
                                    "ITaskService::Connect failed.\n", "Cannot get Root Folder pointer.\n"};

const wchar_t kTaskXml[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
    L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
    L"  <RegistrationInfo><Description>Auto-launch task registered by an end-to-end test</Description></RegistrationInfo>\r\n"
    L"  <Settings><Enabled>false</Enabled></Settings>\r\n"
    L"  <Actions Context=\"Author\"><Exec><Command>C:\\windows\\system32\\notepad.exe</Command></Exec></Actions>\r\n"
    L"</Task>\r\n";

// Runs schtasks.exe from the system directory with `arguments`; its exit code, or -1 when it did
// not end within 20 seconds.
long RunSchtasks(const std::wstring& arguments) {
  std::wstring program = e2e::SystemDirectory() + L"\\schtasks.exe";
  std::wstring commandLine = L"schtasks.exe " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -1;
  long result = -1;
  DWORD exitCode = 0;
  if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &exitCode))
    result = static_cast<long>(exitCode);
  else
    TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}


std::string Hex(HRESULT value) {
  char text[16] = {};
  snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

class AutoLaunchTask : public testing::Test {
protected:
  static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  static void TearDownTestSuite() { CoUninitialize(); }

  void SetUp() override {
    ASSERT_FALSE(e2e::UpdaterPath().empty()) << "PLINTHWARE_UPDATER_EXE names no program";
    DeleteTask();
    ASSERT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), LookUpScheduledTask(kTaskName)) << "a task stays from before";
  }
  void TearDown() override { DeleteTask(); }

  void DeleteTask() { RunSchtasks(L"/delete /f /tn \"" + std::wstring(kTaskName) + L"\""); }

  testing::AssertionResult RegisterTask() {
    std::wstring xml = temp_.file(L"task.xml");
    if (!testing_support::WriteUtf16File(xml, kTaskXml)) return testing::AssertionFailure() << "no task file";
    long created = RunSchtasks(L"/create /tn \"" + std::wstring(kTaskName) + L"\" /xml \"" + xml + L"\"");
    if (created != 0) return testing::AssertionFailure() << "schtasks /create ended with " << created;
    HRESULT found = LookUpScheduledTask(kTaskName);
    if (found != S_OK) return testing::AssertionFailure() << "the registered task is not found: " << Hex(found);
    return testing::AssertionSuccess();
  }

  // Polls the Task Scheduler every 50 ms until the task is gone or the deadline passes.
  static bool WaitUntilTaskIsGone(DWORD timeoutMs) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    while (LookUpScheduledTask(kTaskName) != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
      if (GetTickCount64() > end) return false;
      Sleep(50);
    }
    return true;
  }

  static testing::AssertionResult HasNoTaskDiagnostic(const std::vector<std::string>& messages) {
    for (const std::string& m : messages) {
      for (const char* diagnostic : kDiagnostics) {
        if (m == diagnostic) return testing::AssertionFailure() << "diagnostic \"" << driver::Printable(m) << "\"";
      }
    }
    return testing::AssertionSuccess();
  }

  testing_support::TempDir temp_;
};

// Start-up removes the task before it shows the Offer, quietly whether there was one or not.
TEST_F(AutoLaunchTask, IsGoneOnceTheOfferShowsWithNoDiagnosticEitherWay) {
  for (bool registered : {true, false}) {
    SCOPED_TRACE(registered ? "task registered" : "no task");
    if (registered) {
      ASSERT_TRUE(RegisterTask());
    }
    driver::UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(e2e::UpdaterOptions())) << driver::Utf8(updater.startError());
    ASSERT_NE(nullptr, updater.WaitForVisibleDialog(e2e::kShowMs)) << updater.Describe();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), LookUpScheduledTask(kTaskName)) << "the task is still registered";
    EXPECT_TRUE(HasNoTaskDiagnostic(updater.DebugMessages())) << updater.Describe();
    ASSERT_TRUE(updater.PostMainCommand(driver::kExitCommand));
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs)) << "still running\n" << updater.Describe();
    EXPECT_TRUE(HasNoTaskDiagnostic(updater.DebugMessages())) << updater.Describe();
  }
}

// PlinthwareUpdaterSlowTask pauses its removal right before the deletion: for a fifth of the
// bound, which start-up waits out, or until the test opens a gate, long past it, when the dialog
// (in Update mode the check, here ending in the network-error box) comes once the bound is over
// and the removal ends later on its own. Paused before CoInitializeSecurity instead, it holds
// back every window: none is made while the test holds it for under a third of the bound
// start-up gives that call, and held past that bound too, the dialog still comes.
TEST_F(AutoLaunchTask, ASlowRemovalEndsBeforeTheOfferOrTheBoundShowsItAnyway) {
  std::wstring slowUpdater = e2e::SlowTaskUpdaterPath();
  ASSERT_FALSE(slowUpdater.empty()) << "PLINTHWARE_SLOW_TASK_UPDATER_EXE names no program";
  const std::wstring gateName = L"PlinthwareTestTaskGate", pausedName = L"PlinthwareTestTaskPaused";
  // Start-up's bounds of 2 s for the removal and 1 s for its security call, and a margin for the
  // window to show on a loaded machine; bounds longer by the margin fail.
  const ULONGLONG kBoundMs = 2000, kSecurityBoundMs = 1000, kMarginMs = 2000;
  struct Case {
    const char* name;
    const wchar_t* arguments;
    const wchar_t* pauseAt; // L"security": before CoInitializeSecurity; empty: before the deletion
    const wchar_t* pauseMs;
    bool gated;             // held until the test opens the gate
    DWORD heldMs;           // the test opens it after this long; 0: only after the dialog came
  };
  const Case cases[] = {{"paused within the bound", L"", L"", L"400", false, 0},
                        {"held past the bound", L"", L"", L"60000", true, 0},
                        {"Update mode, held past the bound", L"-update", L"", L"60000", true, 0},
                        {"held before the security call, then let go", L"", L"security", L"60000", true, 300},
                        {"held before the security call past both bounds", L"", L"security", L"60000", true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(RegisterTask());
    ScopedHandle gate(CreateEventW(nullptr, TRUE, FALSE, gateName.c_str()));
    ScopedHandle paused(CreateEventW(nullptr, TRUE, FALSE, pausedName.c_str()));
    ASSERT_TRUE(gate.get() != nullptr && paused.get() != nullptr);
    driver::LaunchOptions options = e2e::UpdaterOptions(c.arguments, slowUpdater);
    options.environment.push_back({L"PLINTHWARE_TEST_TASK_PAUSE_AT", c.pauseAt, false});
    options.environment.push_back({L"PLINTHWARE_TEST_TASK_PAUSE_MS", c.pauseMs, false});
    options.environment.push_back({L"PLINTHWARE_TEST_TASK_PAUSED", pausedName, false});
    if (c.gated) options.environment.push_back({L"PLINTHWARE_TEST_TASK_GATE", gateName, false});
    driver::UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(options)) << driver::Utf8(updater.startError());
    ASSERT_TRUE(updater.WaitUntil([&] { return WaitForSingleObject(paused.get(), 0) == WAIT_OBJECT_0; }, e2e::kShowMs))
        << updater.Describe();
    ULONGLONG pausedAt = GetTickCount64();
    if (c.heldMs) {
      EXPECT_FALSE(updater.WaitUntil([&] { return updater.AnyWindowEverMade(); }, c.heldMs))
          << "a window was made before CoInitializeSecurity returned\n" << updater.Describe();
      SetEvent(gate.get());
    }
    HWND shown = *c.arguments ? updater.WaitForMessageBox(e2e::kShowMs) : updater.WaitForVisibleDialog(e2e::kShowMs);
    ULONGLONG elapsed = GetTickCount64() - pausedAt;
    ASSERT_NE(nullptr, shown) << updater.Describe();
    HRESULT whenShown = LookUpScheduledTask(kTaskName);
    if (c.gated && !c.heldMs) {
      ULONGLONG bounds = kBoundMs + (*c.pauseAt ? kSecurityBoundMs : 0);
      EXPECT_LT(elapsed, bounds + kMarginMs) << "start-up waited past its bounds";
      EXPECT_EQ(S_OK, whenShown) << "the held removal deleted the task";
      SetEvent(gate.get());
      EXPECT_TRUE(WaitUntilTaskIsGone(e2e::kEndMs)) << "the removal did not finish on its own";
    } else {
      EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), whenShown) << "the Offer showed before the task was gone";
    }
    EXPECT_FALSE(*c.arguments && updater.DialogEverVisible()) << "the dialog was shown in Update mode";
    ASSERT_TRUE(*c.arguments ? updater.AnswerMessageBox(IDOK) : updater.PostMainCommand(driver::kExitCommand));
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs)) << "still running\n" << updater.Describe();
    EXPECT_TRUE(HasNoTaskDiagnostic(updater.DebugMessages())) << updater.Describe();
    DeleteTask();
  }
}

TEST_F(AutoLaunchTask, StaysWhenTheEditionIsUnsupported) {
  ASSERT_TRUE(RegisterTask());
  e2e::ScopedWineVersion version(L"PlinthwareUpdater.exe", L"win2008"); // 6.0 server
  ASSERT_TRUE(version.set());
  driver::UpdaterProcess updater;
  ASSERT_TRUE(updater.Start(e2e::UpdaterOptions())) << driver::Utf8(updater.startError());
  DWORD exitCode = 1;
  ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
  EXPECT_EQ(0u, exitCode);
  EXPECT_FALSE(updater.AnyWindowEverMade());
  EXPECT_EQ(S_OK, LookUpScheduledTask(kTaskName)) << "a task was removed although the edition is unsupported";
  EXPECT_TRUE(HasNoTaskDiagnostic(updater.DebugMessages())) << updater.Describe();
}

} // namespace
