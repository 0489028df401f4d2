// RemoveAutoLaunchTask against the real Task Scheduler of the Wine prefix: a task registered
// first (with schtasks, as an installer of the product family would) and no task at all. Each
// run is a fresh probe process, since the COM security the operation sets lasts a process's life;
// its debugger output is captured by its process ID.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>

#include "support/scheduled_task.h"
#include "support/test_support.h"
#include "system/autolaunch_task.h"

namespace {

using testing_support::LookUpScheduledTask;

using testing_support::DebugOutputCapture;
using testing_support::Narrow;
using testing_support::ProgramFolder;
using testing_support::TempDir;
using testing_support::WriteUtf16File;

const char kProbeDone[] = "task probe done\n";


const wchar_t kTaskXml[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
    L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
    L"  <RegistrationInfo><Description>Auto-launch task registered by a test</Description></RegistrationInfo>\r\n"
    L"  <Settings><Enabled>false</Enabled></Settings>\r\n"
    L"  <Actions Context=\"Author\"><Exec><Command>C:\\windows\\system32\\notepad.exe</Command></Exec></Actions>\r\n"
    L"</Task>\r\n";

struct Finished {
  bool ended = false;
  DWORD exitCode = 0xFFFFFFFF;
};

// Runs a program to its end within 20 seconds.
Finished RunToEnd(const std::wstring& application, std::wstring commandLine, DebugOutputCapture** capture = nullptr) {
  Finished finished;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(application.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &process)) {
    return finished;
  }
  // Listening before the process runs, so that none of its output is missed.
  if (capture) *capture = new DebugOutputCapture(process.dwProcessId);
  ResumeThread(process.hThread);
  finished.ended = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
  GetExitCodeProcess(process.hProcess, &finished.exitCode);
  if (!finished.ended) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return finished;
}


class AutoLaunchTask : public ::testing::Test {
protected:
  static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  static void TearDownTestSuite() { CoUninitialize(); }
  void SetUp() override { RemoveTestTask(); }
  void TearDown() override { RemoveTestTask(); }

  void RemoveTestTask() {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring schtasks = std::wstring(system) + L"\\schtasks.exe";
    RunToEnd(schtasks, L"schtasks.exe /delete /f /tn \"" + std::wstring(kAutoLaunchTaskName) + L"\"");
  }

  ::testing::AssertionResult RegisterTask() {
    std::wstring xml = temp_.file(L"task.xml");
    if (!WriteUtf16File(xml, kTaskXml)) return ::testing::AssertionFailure() << "cannot write the task file";
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    Finished schtasks = RunToEnd(std::wstring(system) + L"\\schtasks.exe",
                                 L"schtasks.exe /create /tn \"" + std::wstring(kAutoLaunchTaskName) + L"\" /xml \"" +
                                     xml + L"\"");
    if (!schtasks.ended || schtasks.exitCode != 0) {
      return ::testing::AssertionFailure() << "schtasks /create ended " << schtasks.ended << " with " << schtasks.exitCode;
    }
    HRESULT found = LookUpScheduledTask(kAutoLaunchTaskName);
    if (found != S_OK) return ::testing::AssertionFailure() << "registered task not found: 0x" << std::hex << found;
    return ::testing::AssertionSuccess();
  }

  // Runs the probe; returns its exit code and leaves its debugger output in `output`.
  DWORD RunProbe(const wchar_t* mode, std::string* output) {
    std::wstring probe = ProgramFolder() + L"\\task_probe.exe";
    DebugOutputCapture* capture = nullptr;
    Finished finished = RunToEnd(probe, L"task_probe.exe " + std::wstring(mode), &capture);
    EXPECT_TRUE(finished.ended) << "the probe did not end";
    EXPECT_TRUE(capture && capture->WaitFor(kProbeDone, 5000)) << "output so far: " << (capture ? capture->joined() : "");
    *output = capture ? capture->joined() : std::string();
    delete capture;
    return finished.exitCode;
  }

  TempDir temp_;
};

TEST_F(AutoLaunchTask, NoTaskIsNoConcern) {
  ASSERT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), LookUpScheduledTask(kAutoLaunchTaskName));
  std::string output;
  EXPECT_EQ(1u, RunProbe(L"once", &output));
  EXPECT_EQ(kProbeDone, output) << "diagnostics written";
}

TEST_F(AutoLaunchTask, DeletesTheRegisteredTask) {
  ASSERT_TRUE(RegisterTask());
  std::string output;
  EXPECT_EQ(1u, RunProbe(L"once", &output));
  EXPECT_EQ(kProbeDone, output) << "diagnostics written";
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), LookUpScheduledTask(kAutoLaunchTaskName)) << "the task is still registered";
}

TEST_F(AutoLaunchTask, ASecondCallInAProcessReportsWhatItMet) {
  // Windows lets a process set its COM security once (RPC_E_TOO_LATE afterwards): the second call
  // then fails at step 1. Wine 8.0's CoInitializeSecurity accepts every call: both calls succeed.
  ASSERT_TRUE(RegisterTask());
  std::string output;
  DWORD results = RunProbe(L"twice", &output);
  if (results == 10) {
    EXPECT_EQ(std::string("CoInitializeSecurity failed.\n") + kProbeDone, output);
  } else {
    EXPECT_EQ(11u, results);
    EXPECT_EQ(kProbeDone, output);
  }
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), LookUpScheduledTask(kAutoLaunchTaskName)) << "the first call did not delete the task";
}

TEST_F(AutoLaunchTask, WithoutComFailsWithADiagnostic) {
  // Windows refuses the security without COM (step 1); Wine accepts it and refuses the object
  // (step 2). Either way exactly one diagnostic, the result 0, and the task stays.
  ASSERT_TRUE(RegisterTask());
  std::string output;
  EXPECT_EQ(0u, RunProbe(L"without-com", &output));
  EXPECT_TRUE(output == std::string("CoInitializeSecurity failed.\n") + kProbeDone ||
              output == std::string("Failed to create an instance of ITaskService.\n") + kProbeDone)
      << "debugger output: " << output;
  EXPECT_EQ(S_OK, LookUpScheduledTask(kAutoLaunchTaskName)) << "the task went although the operation failed";
}

} // namespace
