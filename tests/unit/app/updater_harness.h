// Runs the real start-up sequence in the test process and watches the message boxes the updater
// shows, answering each one as a user would.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct ShownMessageBox {
  std::wstring caption;
  std::wstring text;
  HWND owner;
  bool dialogVisible; // whether the updater dialog was visible when the box appeared
};

// Installs a CBT hook on this thread for its lifetime: every message box that opens is recorded
// and dismissed with its default button.
class MessageBoxWatcher {
public:
  MessageBoxWatcher();
  ~MessageBoxWatcher();
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;
  const std::vector<ShownMessageBox>& boxes() const { return boxes_; }

private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
  HHOOK hook_;
  std::vector<ShownMessageBox> boxes_;
};

// Start-up as wWinMain does it (with the given Update mode); returns StartInstance's result.
int StartTestUpdater(int updateMode);

// True once the main window is gone, i.e. the Shutdown sequence has run.
bool UpdaterEnded();

// Ends a still running updater the way Exit does, and drains the quit message.
void StopTestUpdater();

std::wstring ControlText(int controlId);
bool ControlVisible(int controlId);
