// PlinthwareDriver.exe: runs the updater and walks it through a list of steps given on the
// command line, printing what it shows, for demonstrations and for trying things by hand.
// One thread (plus the debugger-output listener of the driver library).
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "driver/driver.h"

namespace {

const wchar_t kUsage[] =
    L"usage: PlinthwareDriver [--exe PATH] [--args TEXT] [--env NAME=VALUE]... [--unset NAME]...\n"
    L"                        [--timeout MS] STEP...\n"
    L"steps:\n"
    L"  dialog          wait until the updater dialog is visible\n"
    L"  screen          print every window and control of the updater\n"
    L"  click:ID        press button ID of the updater dialog (1 Download Now, 2 Download Later,\n"
    L"                  1006 Install, 1007 Ignore, 1008 Restart Now, 1009 Restart Later)\n"
    L"  link:ID         click the first link of SysLink ID (1002 status, 1010 offer)\n"
    L"  close           the dialog's close box\n"
    L"  key:NAME        type tab, enter, esc or space (or a virtual-key number) into the focused control\n"
    L"  focus:ID        wait until control ID of the updater dialog has the keyboard focus\n"
    L"  text:ID=TEXT    wait until control ID shows TEXT\n"
    L"  box[:ID]        wait for a message box, print it, press its button ID (default 1, OK)\n"
    L"  see-box         wait for a message box and print it, leaving it open (for shot:PATH)\n"
    L"  about           open the About box from the main window's menu, print it, press OK\n"
    L"  exit            the main window's Exit command\n"
    L"  wait-exit       wait for the updater to end and print its exit code\n"
    L"  output          print the updater's debugger output so far\n"
    L"  registry        print HKLM\\SOFTWARE\\Orvane\\autolaunch\n"
    L"  wait:MS         let MS milliseconds pass (for demonstrations)\n"
    L"  shot:PATH       save the updater's front window (a message box, else the dialog) as BMP\n"
    L"The updater is PLINTHWARE_UPDATER_EXE, else PlinthwareUpdater.exe beside this program.\n"
    L"An updater still running after the last step is ended.\n";

void Print(const std::string& text) {
  fputs(text.c_str(), stdout);
  fflush(stdout);
}

void Print(const std::wstring& text) { Print(driver::Utf8(text)); }

std::wstring DefaultProgram() {
  wchar_t path[MAX_PATH * 4] = {};
  DWORD length = GetEnvironmentVariableW(L"PLINTHWARE_UPDATER_EXE", path, ARRAYSIZE(path));
  if (length > 0 && length < ARRAYSIZE(path)) return driver::WindowsPathOf(path);
  length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
  std::wstring own(path, length);
  return own.substr(0, own.find_last_of(L'\\') + 1) + L"PlinthwareUpdater.exe";
}

// Splits "name:rest" into the step's name and its argument.
std::wstring ArgumentOf(const std::wstring& step, std::wstring* name) {
  size_t colon = step.find(L':');
  *name = step.substr(0, colon);
  return colon == std::wstring::npos ? std::wstring() : step.substr(colon + 1);
}

bool RunStep(driver::UpdaterProcess& updater, const std::wstring& step, DWORD timeoutMs) {
  std::wstring name;
  std::wstring argument = ArgumentOf(step, &name);
  if (name == L"dialog") return updater.WaitForVisibleDialog(timeoutMs) != nullptr;
  if (name == L"screen") {
    Print(updater.Describe());
    return true;
  }
  if (name == L"click") return driver::PressButton(updater.UpdaterDialog(), _wtoi(argument.c_str()));
  if (name == L"link") return updater.ClickLink(_wtoi(argument.c_str()), 0);
  if (name == L"close") return updater.CloseDialog(false);
  if (name == L"key") {
    const struct {
      const wchar_t* name;
      WORD key;
    } kKeys[] = {{L"tab", VK_TAB}, {L"enter", VK_RETURN}, {L"esc", VK_ESCAPE}, {L"space", VK_SPACE}};
    WORD key = static_cast<WORD>(_wtoi(argument.c_str()));
    for (const auto& k : kKeys)
      if (argument == k.name) key = k.key;
    return key != 0 && updater.PressKey(key);
  }
  if (name == L"focus") return updater.WaitForFocus(_wtoi(argument.c_str()), timeoutMs);
  if (name == L"text") {
    size_t equals = argument.find(L'=');
    if (equals == std::wstring::npos) return false;
    return updater.WaitForControlText(_wtoi(argument.substr(0, equals).c_str()), argument.substr(equals + 1),
                                      timeoutMs);
  }
  if (name == L"box" || name == L"see-box") {
    HWND box = updater.WaitForMessageBox(timeoutMs);
    if (!box) return false;
    driver::MessageBoxState state = updater.ReadMessageBox(box);
    Print(L"message box \"" + state.caption + L"\": " + state.text + L"\n");
    if (name == L"see-box") return true;
    return driver::PressButton(box, argument.empty() ? IDOK : _wtoi(argument.c_str()));
  }
  if (name == L"about") {
    if (!updater.PostMainCommand(driver::kAboutCommand)) return false;
    HWND about = updater.WaitForAboutBox(timeoutMs);
    if (!about) return false;
    Print(updater.Describe());
    return driver::PressButton(about, IDOK) && updater.WaitUntil([&] { return !IsWindow(about); }, timeoutMs);
  }
  if (name == L"exit") return updater.PostMainCommand(driver::kExitCommand);
  if (name == L"wait-exit") {
    DWORD code = 0;
    if (!updater.WaitForExit(timeoutMs, &code)) return false;
    Print("exit code " + std::to_string(code) + "\n");
    return true;
  }
  if (name == L"output") {
    for (const std::string& message : updater.DebugMessages()) Print("  \"" + driver::Printable(message) + "\"\n");
    return true;
  }
  if (name == L"registry") {
    const wchar_t* key = L"SOFTWARE\\Orvane\\autolaunch";
    driver::RegistryValue installed = driver::ReadRegistryValue(HKEY_LOCAL_MACHINE, key, L"installed");
    driver::RegistryValue version = driver::ReadRegistryValue(HKEY_LOCAL_MACHINE, key, L"installed_version");
    Print("installed: " + (installed.exists ? std::to_string(installed.dword) + " (type " +
                                                  std::to_string(installed.type) + ")"
                                            : std::string("absent")) + "\n");
    Print(L"installed_version: " + (version.exists ? version.text : std::wstring(L"absent")) + L"\n");
    return true;
  }
  if (name == L"wait") {
    updater.WaitUntil([] { return false; }, static_cast<DWORD>(_wtoi(argument.c_str())));
    return true;
  }
  if (name == L"shot") {
    HWND window = updater.VisibleMessageBox();
    if (!window) window = updater.AboutBox();
    if (!window) window = updater.UpdaterDialog();
    // Give the window a moment to finish painting what the last step changed.
    updater.WaitUntil([] { return false; }, 300);
    bool saved = driver::SaveWindowImage(window, driver::WindowsPathOf(argument));
    Print(L"  " + std::wstring(saved ? L"saved " : L"could not save ") + argument + L"\n");
    return saved;
  }
  Print(L"unknown step " + step + L"\n");
  return false;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  driver::LaunchOptions options;
  options.program = DefaultProgram();
  DWORD timeoutMs = 30000;
  std::vector<std::wstring> steps;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == L"--exe" && hasValue) {
      options.program = driver::WindowsPathOf(argv[++i]);
    } else if (arg == L"--args" && hasValue) {
      options.arguments = argv[++i];
    } else if (arg == L"--env" && hasValue) {
      std::wstring setting = argv[++i];
      size_t equals = setting.find(L'=');
      if (equals == std::wstring::npos) {
        Print(kUsage);
        return 2;
      }
      options.environment.push_back({setting.substr(0, equals), setting.substr(equals + 1), false});
    } else if (arg == L"--unset" && hasValue) {
      options.environment.push_back({argv[++i], L"", true});
    } else if (arg == L"--timeout" && hasValue) {
      timeoutMs = static_cast<DWORD>(_wtoi(argv[++i]));
    } else if (arg.size() > 1 && arg[0] == L'-') {
      Print(kUsage);
      return 2;
    } else {
      steps.push_back(arg);
    }
  }
  if (steps.empty()) {
    Print(kUsage);
    return 2;
  }

  driver::UpdaterProcess updater;
  if (!updater.Start(options)) {
    Print(updater.startError() + L"\n");
    return 1;
  }
  Print(L"started " + options.program + L" " + options.arguments + L"\n");
  DWORD startTick = GetTickCount();
  for (const std::wstring& step : steps) {
    Print(L"> " + step + L" at " + std::to_wstring(GetTickCount() - startTick) + L" ms\n");
    if (!RunStep(updater, step, timeoutMs)) {
      Print(L"step failed: " + step + L"\n");
      Print(updater.Describe());
      return 1;
    }
  }
  if (updater.MainWindowEverVisible()) Print("note: the main window was seen visible\n");
  return 0;
}
