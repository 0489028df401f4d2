// Drives the real PlinthwareUpdater.exe from outside, as a user would: starts it with chosen
// arguments and environment, watches its windows and its debugger output, presses its buttons and
// links, answers its message boxes, and waits for conditions with deadlines.
// Everything runs on the caller's thread, except the debugger-output listener's own thread.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {
class DebugOutputCapture;
}

namespace driver {

// The updater dialog's control IDs, as its template fixes them.
const int kDownloadNow = 1;
const int kDownloadLater = 2;
const int kPercent = -1;
const int kProgress = 1000;
const int kLabel = 1001;
const int kStatusLink = 1002;
const int kInstall = 1006;
const int kIgnore = 1007;
const int kRestartNow = 1008;
const int kRestartLater = 1009;
const int kOfferLink = 1010;

// Commands of the main window's menu.
const int kAboutCommand = 104;
const int kExitCommand = 105;

// The static that holds a message box's text, on Windows and under Wine alike.
const int kMessageBoxTextId = 0xFFFF;

// One change to the environment the child inherits from the driver.
struct EnvironmentSetting {
  std::wstring name;
  std::wstring value;
  bool remove = false; // true: the child does not get the variable at all
};

struct LaunchOptions {
  std::wstring program;   // full path of PlinthwareUpdater.exe (or of a copy)
  std::wstring arguments; // what follows the quoted program path, e.g. L"-update"; may be empty
  std::vector<EnvironmentSetting> environment;
  std::wstring currentDirectory; // empty: the driver's own
};

// What a control shows: whether it exists, whether its own WS_VISIBLE is set (what ShowWindow
// changed, independent of the dialog's visibility), and its text as WM_GETTEXT returns it.
struct ControlState {
  bool exists = false;
  bool visible = false;
  std::wstring text;
};

struct MessageBoxState {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;     // the static kMessageBoxTextId
  bool hasIcon = false;  // a visible static showing an icon (MB_ICONERROR and the like)
  std::vector<int> buttons; // IDs of the visible buttons, in z order
};

// A link of a SysLink control, read through the control itself (LM_GETITEM).
struct LinkState {
  bool exists = false;
  std::wstring id;
  std::wstring url;
};

// The text of any window, through WM_GETTEXT (answered across processes); empty when the window
// does not answer within a second.
std::wstring ReadWindowText(HWND window);
std::wstring ReadClassName(HWND window);
ControlState ReadControl(HWND dialog, int controlId);

// Top-level windows of one process, hidden ones included, in z order.
std::vector<HWND> TopLevelWindows(DWORD processId);

// Presses a button the way a click does (BM_CLICK), posted so that the driver never blocks on
// what the press starts (a message box, the end of the program).
bool PressButton(HWND dialog, int controlId);

// Clicks link `linkIndex` of a SysLink control with a mouse press and release at a point inside
// that link. The control only reports NM_CLICK for a real mouse click over a link, and an NMLINK
// cannot be sent across processes; the point is found with LM_HITTEST on a LHITTESTINFO placed in
// the child's memory. Returns false when the control shows no such link.
bool ClickLink(HANDLE process, HWND dialog, int controlId, int linkIndex);
LinkState ReadLink(HANDLE process, HWND dialog, int controlId, int linkIndex);

// Registry values in the native (64-bit) view.
struct RegistryValue {
  bool exists = false;
  DWORD type = REG_NONE;
  DWORD dword = 0;      // REG_DWORD data
  std::wstring text;    // REG_SZ data
};
RegistryValue ReadRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* name);

// Windows path of a file the build names with a Unix path (Wine maps "/" to drive Z:); a path
// that already has a drive letter comes back unchanged.
std::wstring WindowsPathOf(const std::wstring& path);

// Saves what the screen shows of `window`, frame included, as a 24-bit BMP file.
bool SaveWindowImage(HWND window, const std::wstring& path);

// Escapes line feeds and other control characters so that debugger texts print on one line.
std::string Printable(const std::string& text);
std::string Utf8(const std::wstring& text);

// One running (or ended) updater process.
class UpdaterProcess {
public:
  UpdaterProcess();
  ~UpdaterProcess(); // ends the process if it still runs
  UpdaterProcess(const UpdaterProcess&) = delete;
  UpdaterProcess& operator=(const UpdaterProcess&) = delete;

  // Starts the program suspended, attaches the debugger-output listener to its process ID, and
  // lets it run. Only one updater at a time can be listened to: the channel is machine-wide.
  bool Start(const LaunchOptions& options);
  const std::wstring& startError() const { return startError_; }

  DWORD processId() const { return processId_; }
  HANDLE process() const { return process_; }
  bool HasExited() const;
  // Waits for the end of the process; true with its exit code when it ended in time, and then
  // every text it wrote to the debugger output has been stored.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
  void Kill();

  // Windows of this process. The updater dialog is the "#32770" window that holds the status
  // link 1002 (found by its controls, so a translated title does not hide it); the About box is
  // the "#32770" titled "About veltrana"; a message box is any other visible "#32770".
  HWND UpdaterDialog() const;
  HWND MainWindow() const;
  HWND AboutBox() const;
  HWND VisibleMessageBox() const;
  MessageBoxState ReadMessageBox(HWND box) const;

  // Waits until `condition` holds or `timeoutMs` passes, serving this thread's messages and
  // watching the windows' visibility meanwhile; returns condition(). The waits for a window
  // below give up early, returning null or false, once the process has ended.
  bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
  HWND WaitForVisibleDialog(DWORD timeoutMs);
  HWND WaitForMessageBox(DWORD timeoutMs);
  HWND WaitForAboutBox(DWORD timeoutMs);
  bool WaitForControlText(int controlId, const std::wstring& text, DWORD timeoutMs);
  bool WaitForDebugText(const std::string& text, DWORD timeoutMs);

  // Whether the hidden main window, or any window of the process, was ever seen visible by a
  // wait or look so far. Each wait looks at least every 20 ms: Wine 8.0 raises no
  // EVENT_OBJECT_SHOW (tried with an out-of-context WinEvent hook), so visibility is sampled.
  bool MainWindowEverVisible();
  bool DialogEverVisible();
  bool AnyWindowEverVisible();
  // Whether the process ever made a window, hidden ones included: EVENT_OBJECT_CREATE, which
  // Wine does deliver to an out-of-context WinEvent hook of this thread, installed before the
  // process runs and served by every wait and by this call. No window made, none ever shown.
  bool AnyWindowEverMade();

  // Types `virtualKey` (VK_TAB, VK_RETURN, VK_ESCAPE, ...) as the keyboard would: WM_KEYDOWN and
  // WM_KEYUP posted to the window of the updater's thread that has the focus (GetGUIThreadInfo),
  // else to its active window; they pass the updater's own message loop. No Shift: key states
  // cannot be posted. False when the thread has neither window.
  bool PressKey(WORD virtualKey);
  // The window that has the keyboard focus on the dialog's thread, or null.
  HWND FocusedWindow() const;
  // Waits until control `controlId` of the updater dialog has the focus.
  bool WaitForFocus(int controlId, DWORD timeoutMs);

  // Sends a menu command to the main window, posted (About opens a modal box).
  bool PostMainCommand(int command);
  // The dialog's close box: WM_SYSCOMMAND SC_CLOSE, or (closeMessage) a plain WM_CLOSE.
  bool CloseDialog(bool closeMessage);
  bool ClickLink(int controlId, int linkIndex);
  LinkState ReadLink(int controlId, int linkIndex);
  // Presses `button` of the visible message box; false when there is none.
  bool AnswerMessageBox(int button);

  // Debugger output of this process so far: one text per OutputDebugString call, in order.
  std::vector<std::string> DebugMessages() const;

  // Everything this process shows (each top-level window with each control's ID, class,
  // visibility and text), then its debugger output: for failure messages.
  std::string Describe();

private:
  static void CALLBACK OnCreate(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object, LONG child, DWORD thread,
                                DWORD time);
  void WatchWindows();
  void DrainDebugOutput();

  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
  std::wstring startError_;
  std::unique_ptr<testing_support::DebugOutputCapture> output_;
  HWINEVENTHOOK createHook_ = nullptr;
  bool anyWindowMade_ = false;
  bool mainWindowSeenVisible_ = false;
  bool dialogSeenVisible_ = false;
  bool anyWindowSeenVisible_ = false;
};

} // namespace driver
