// RunInstaller: the Installer thread. Starts "vrel_setup.exe" from the temporary folder with the
// Info file's InstConfig as its whole command line (elevated through the shell when Windows says
// the package needs it), keeps the progress bar in marquee mode while the package runs, waits for
// it, and sends the controller code 5 with the outcome. Runs on its own thread, started at code 4.
#include "update/installer.h"

#include <commctrl.h>
#include <objbase.h>
#include <strsafe.h>

#include "base/dialog_controls.h"
#include "base/owners.h"
#include "base/shell_state.h"
#include "base/workflow_protocol.h"
#include "info/update_files.h"
#include "info/info_signature.h"
#include "info/info_values.h"
#include "info/package_check.h"
#include "info/publisher_check.h"
#include "res/resource.h"

CreateProcessFunction g_createProcess = CreateProcessW;
ShellExecuteExFunction g_shellExecuteEx = ShellExecuteExW;

// MinGW's winerror.h lacks this one.
#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The direct start, exactly as the package was always started. False, with the start's error in
// *error, when it could not be started.
bool StartDirectly(wchar_t* commandLine, PROCESS_INFORMATION* process, DWORD* error) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (g_createProcess(g_destinationBuffer, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                      g_tempFolderBuffer, &startup, process)) {
    return true;
  }
  *error = GetLastError();
  return false;
}

// The start through the shell with the "runas" verb, for a package that needs administrator
// rights: the user is asked for consent. Returns the process handle, or null when the user
// declined (ERROR_CANCELLED) or the start failed otherwise.
HANDLE StartElevated(const wchar_t* commandLine) {
  // The shell may hand the verb to extensions that expect an apartment.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const wchar_t* parameters = commandLine ? SkipProgramName(commandLine) : L"";
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hwnd = g_dialog; // the consent prompt's owner, so that it is not opened behind the dialog
  info.lpVerb = L"runas";
  info.lpFile = g_destinationBuffer;
  info.lpParameters = *parameters ? parameters : nullptr;
  info.lpDirectory = g_tempFolderBuffer;
  info.nShow = SW_SHOWNORMAL;
  HANDLE process = g_shellExecuteEx(&info) ? info.hProcess : nullptr;
  if (SUCCEEDED(com)) CoUninitialize();
  return process;
}

// Waits for the package without a time limit; true when it reports success, a restart included.
bool WaitForSuccess(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  DWORD exitCode = 1;
  if (!GetExitCodeProcess(process, &exitCode)) return false;
  return exitCode == ERROR_SUCCESS || exitCode == ERROR_SUCCESS_REBOOT_REQUIRED ||
         exitCode == ERROR_SUCCESS_REBOOT_INITIATED;
}

// The pinned publisher's check of the held package; one debugger line names a refusal and its code.
bool PublisherAccepted(HANDLE file) {
  PublisherCheck check = {};
  if (CheckPackagePublisher(g_destinationBuffer, file, kPackagePublisher, kPackagePublisherKeys, &check)) return true;
  wchar_t line[128 + kPublisherNameChars] = {};
  if (check.verdict == kPublisherOther) {
    StringCchPrintfW(line, ARRAYSIZE(line), L"package refused: other publisher \"%s\" (0x%08lX)\n", check.signer,
                     static_cast<unsigned long>(check.code));
  } else if (check.verdict == kPublisherOtherKey) {
    StringCchPrintfW(line, ARRAYSIZE(line), L"package refused: other key %s (0x%08lX)\n", check.key,
                     static_cast<unsigned long>(check.code));
  } else {
    StringCchPrintfW(line, ARRAYSIZE(line), L"package refused: %s (0x%08lX)\n", PublisherVerdictText(check.verdict),
                     static_cast<unsigned long>(check.code));
  }
  OutputDebugStringW(line);
  return false;
}

// With a Sha256 in the Info file the package runs only when it matches; in a build with a pinned
// publisher, only when it carries a trusted Authenticode signature of that publisher; with both,
// only when both hold. One handle holds it (no write or delete sharing) from before the first
// check until it has ended, so it cannot be swapped in between. A refused package, or a
// Sha256 that is not 64 hex digits, is deleted; so is any package in a build with a public key
// when the Info file carried no Sha256. Size, which such a build also requires, has no check
// here: it bounds the transfer, which is over, and a matching Sha256 fixes the length anyway.
// Returns false when the package must not run; *held is the handle to keep until the start.
bool CheckPackage(HANDLE* held) {
  *held = nullptr;
  bool hashPinned = g_platformValues.hasSha256;
  bool publisherPinned = kPackagePublisher[0] != L'\0';
  if (!hashPinned && kInfoPublicKey[0] != L'\0') {
    OutputDebugStringW(L"package refused: no Sha256 for the package\n");
    DeleteFileW(g_destinationBuffer);
    return false;
  }
  if (!hashPinned && !publisherPinned) return true;
  {
    ScopedHandle file(OpenHeldFile(g_destinationBuffer));
    DWORD openError = GetLastError();
    bool opened = file.get() != INVALID_HANDLE_VALUE;
    bool hashAccepted = !hashPinned || (opened && HeldFileMatches(file.get(), g_platformValues.sha256));
    if (!opened) {
      // Said as such, not as a mismatch: a package another program holds was never hashed.
      wchar_t line[64] = {};
      StringCchPrintfW(line, ARRAYSIZE(line), L"package refused: cannot be opened (error %lu)\n", openError);
      OutputDebugStringW(line);
    } else if (!hashAccepted) {
      OutputDebugStringW(IsSha256Text(g_platformValues.sha256) ? L"package refused: Sha256 does not match\n"
                                                               : L"package refused: Sha256 is not 64 hexadecimal digits\n");
    }
    if (opened && hashAccepted && (!publisherPinned || PublisherAccepted(file.get()))) {
      *held = file.release();
      return true;
    }
  } // closed before the delete: the hold shares no deletion
  DeleteFileW(g_destinationBuffer);
  return false;
}

bool RunPackage() {
  // The command line read when the Info file was judged; a copy, since CreateProcessW may write it.
  if (!g_platformValues.instConfigFits) return false;
  wchar_t commandLine[kInstConfigChars + 1] = {};
  CopyMemory(commandLine, g_platformValues.instConfig, sizeof commandLine);
  DWORD length = g_platformValues.instConfigLength;
  HANDLE checked = nullptr;
  if (!CheckPackage(&checked)) return false;
  // Held over both starts, the direct one and the elevated one, until the package has ended.
  ScopedHandle held(checked);
  // Without InstConfig, Windows uses the Installer path as the command line.
  wchar_t* passed = length > 0 ? commandLine : nullptr;

  PROCESS_INFORMATION direct = {};
  DWORD error = ERROR_SUCCESS;
  if (StartDirectly(passed, &direct, &error)) {
    ScopedHandle process(direct.hProcess);
    ScopedHandle thread(direct.hThread);
    return WaitForSuccess(process.get());
  }
  if (error != ERROR_ELEVATION_REQUIRED) return false;
  // Declined or failed: the downloaded package stays where it is.
  ScopedHandle elevated(StartElevated(passed));
  return elevated.get() && WaitForSuccess(elevated.get());
}

} // namespace

const wchar_t* SkipProgramName(const wchar_t* commandLine) {
  const wchar_t* p = commandLine;
  while (IsBlank(*p)) ++p;
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p && !IsBlank(*p)) ++p;
  }
  while (IsBlank(*p)) ++p;
  return p;
}

DWORD WINAPI RunInstaller(void*) {
  // The dialog's controls are the UI thread's; these window calls are carried out there.
  ShowControl(g_dialog, IDC_UPDATER_PERCENT, SW_HIDE);
  SetProgressMarquee(g_dialog, IDC_UPDATER_PROGRESS, true);
  bool succeeded = RunPackage();
  SetProgressMarquee(g_dialog, IDC_UPDATER_PROGRESS, false);
  SendWorkflow(kWorkflowInstallerExited, succeeded ? kInstallerSucceeded : kInstallerFailed);
  return 1;
}
