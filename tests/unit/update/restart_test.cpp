// RestartWindows: the privilege steps run for real on this process's token; the restart request
// itself goes to a stand-in for ExitWindowsEx, so that no test restarts the machine.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "update/restart.h"

namespace {

using testing_support::ProgramFolder;
using testing_support::ReadBytes;
using testing_support::TempDir;

struct RestartRequest {
  int count = 0;
  UINT flags = 0;
  DWORD reason = 0;
  BOOL answer = TRUE;
};
RestartRequest g_request;

BOOL WINAPI RecordRestart(UINT flags, DWORD reason) {
  ++g_request.count;
  g_request.flags = flags;
  g_request.reason = reason;
  return g_request.answer;
}

// The shutdown privilege's attributes in this process's token; 0xFFFFFFFF when it is absent.
DWORD ShutdownPrivilegeAttributes() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0xFFFFFFFF;
  LUID shutdown = {};
  LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &shutdown);
  DWORD size = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  std::string buffer(size, '\0');
  DWORD attributes = 0xFFFFFFFF;
  if (size && GetTokenInformation(token, TokenPrivileges, &buffer[0], size, &size)) {
    const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
      const LUID& luid = privileges->Privileges[i].Luid;
      if (luid.LowPart == shutdown.LowPart && luid.HighPart == shutdown.HighPart) {
        attributes = privileges->Privileges[i].Attributes;
      }
    }
  }
  CloseHandle(token);
  return attributes;
}

bool SetShutdownPrivilege(DWORD attributes) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return false;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  privileges.Privileges[0].Attributes = attributes;
  bool ok = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return ok;
}

class Restart : public ::testing::Test {
protected:
  void SetUp() override {
    g_request = RestartRequest();
    g_exitWindows = RecordRestart;
  }
  void TearDown() override { g_exitWindows = ExitWindowsEx; }
};

TEST_F(Restart, EnablesTheShutdownPrivilegeAndRequestsAPlannedRestart) {
  ASSERT_TRUE(SetShutdownPrivilege(0)) << "could not disable the privilege first";
  ASSERT_EQ(0u, ShutdownPrivilegeAttributes() & SE_PRIVILEGE_ENABLED);
  EXPECT_EQ(1, RestartWindows());
  EXPECT_NE(0u, ShutdownPrivilegeAttributes() & SE_PRIVILEGE_ENABLED) << "the privilege was not enabled";
  ASSERT_EQ(1, g_request.count);
  EXPECT_EQ(0x12u, g_request.flags) << "EWX_REBOOT | EWX_FORCEIFHUNG, and never EWX_FORCE";
  EXPECT_EQ(0x80040002u, g_request.reason) << "planned, application, installation";
}

TEST_F(Restart, ARefusedRestartGivesZero) {
  g_request.answer = FALSE;
  EXPECT_EQ(0, RestartWindows());
  EXPECT_EQ(1, g_request.count);
}

TEST_F(Restart, ALastErrorLeftOverDoesNotCount) {
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(1, RestartWindows());
  EXPECT_EQ(1, g_request.count);
}

TEST(RestartUnprivileged, ATokenWithoutThePrivilegeRequestsNothing) {
  // Removing a privilege lasts for the process's life, so a probe process does it.
  TempDir temp;
  std::wstring output = temp.file(L"restart.txt");
  std::wstring probe = ProgramFolder() + L"\\update_probe.exe";
  std::wstring commandLine = L"\"" + probe + L"\" restart-unprivileged \"" + output + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(probe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process));
  CloseHandle(process.hThread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 20000));
  DWORD exitCode = 99;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  ASSERT_EQ(0u, exitCode) << "3: the probe could not remove the privilege";
  EXPECT_EQ("0 0", ReadBytes(output)) << "result and restart requests";
}

} // namespace
