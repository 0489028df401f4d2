// The Installer thread of a build pinned to the test publisher: a package that publisher signed runs,
// held against writes and deletion from before the first check until it has started (with no
// Sha256 in the Info file, which alone held it before); an unsigned one is deleted unrun.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "app/workflow.h"
#include "info/publisher_check.h"
#include "installer_harness.h"
#include "support/test_support.h"
#include "support/trusted_root.h"
#include "update/installer.h"

namespace {

using installer_harness::g_heldAtStart;
using installer_harness::InstallerRun;

const char kInfo[] = "[platform_win7]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com/vrel_setup.exe\r\n"
                     "InstConfig=vrel_setup.exe /S\r\n";

std::wstring CertsFolder() {
  wchar_t value[4096] = {};
  DWORD length = GetEnvironmentVariableW(L"PLINTHWARE_TEST_CERTS_DIR", value, ARRAYSIZE(value));
  if (length == 0 || length >= ARRAYSIZE(value)) return std::wstring();
  std::wstring path = std::wstring(L"Z:") + value;
  for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
  return path;
}

class PinnedPackage : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(installer_harness::CreateWindows()); }
  void SetUp() override {
    ASSERT_STREQ(L"Plinthware Test Publisher", kPackagePublisher) << "not the pinned test build";
    ASSERT_TRUE(root_.trusted()) << "the test root could not be trusted";
    g_heldAtStart = installer_harness::HeldAtStart();
    g_createProcess = installer_harness::ProbingCreateProcess;
    g_shellExecuteEx = installer_harness::ProbingShellExecute;
  }
  void TearDown() override {
    g_createProcess = CreateProcessW;
    g_shellExecuteEx = ShellExecuteExW;
  }
  testing_support::ScopedTrustedRoot root_{CertsFolder() + L"\\root.der"};
};

TEST_F(PinnedPackage, ASignedPackageRunsHeldFromTheCheckUntilItHasStarted) {
  for (bool elevated : {false, true}) {
    SCOPED_TRACE(elevated ? "elevated start" : "direct start");
    g_heldAtStart = installer_harness::HeldAtStart();
    if (elevated) g_createProcess = installer_harness::ElevationRequired;
    InstallerRun run(kInfo, L"temp", L"test_package_signed.exe");
    ASSERT_TRUE(run.Complete());
    EXPECT_EQ(kInstallerSucceeded, run.report().outcome);
    EXPECT_TRUE(run.PackageRan());
    EXPECT_EQ(1, g_heldAtStart.starts);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_heldAtStart.writeError)
        << "the package could be opened for writing between the check and the start";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_heldAtStart.deleteError)
        << "the package could be opened for deletion between the check and the start";
  }
}

TEST_F(PinnedPackage, AnUnsignedPackageIsDeletedUnrunWithItsReason) {
  testing_support::DebugOutputCapture capture;
  InstallerRun run(kInfo);
  ASSERT_TRUE(run.Complete());
  EXPECT_EQ(kInstallerFailed, run.report().outcome);
  EXPECT_FALSE(run.PackageRan());
  EXPECT_EQ(0, g_heldAtStart.starts) << "a refused package was started";
  EXPECT_FALSE(testing_support::FileExists(run.package())) << "a refused package was kept";
  EXPECT_TRUE(capture.WaitFor("package refused: no signature (0x800B0100)\n", 5000)) << capture.joined();
}

} // namespace
