// Reading and clicking the links of the updater's SysLink controls from another process.
// LM_HITTEST and LM_GETITEM carry a pointer that the system does not carry across processes, so
// the structure is placed in the child's memory and read back from there. Driver's thread.
#include "driver/driver.h"

#include <commctrl.h>

namespace driver {

namespace {

// One structure of type T in another process's memory, freed on destruction.
template <typename T>
class RemoteBlock {
public:
  explicit RemoteBlock(HANDLE process)
      : process_(process),
        address_(VirtualAllocEx(process, nullptr, sizeof(T), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
  ~RemoteBlock() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
  }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;

  bool valid() const { return address_ != nullptr; }
  LPARAM param() const { return reinterpret_cast<LPARAM>(address_); }
  bool Write(const T& value) {
    SIZE_T done = 0;
    return WriteProcessMemory(process_, address_, &value, sizeof(T), &done) && done == sizeof(T);
  }
  bool Read(T* value) {
    SIZE_T done = 0;
    return ReadProcessMemory(process_, address_, value, sizeof(T), &done) && done == sizeof(T);
  }

private:
  HANDLE process_;
  void* address_;
};

// Asks the control which link lies under a client point; -1 for none.
int LinkAt(HWND link, RemoteBlock<LHITTESTINFO>& block, int x, int y) {
  LHITTESTINFO hit = {};
  hit.pt.x = x;
  hit.pt.y = y;
  DWORD_PTR found = 0;
  if (!block.Write(hit) ||
      !SendMessageTimeoutW(link, LM_HITTEST, 0, block.param(), SMTO_ABORTIFHUNG, 1000, &found) || !found ||
      !block.Read(&hit))
    return -1;
  return hit.item.iLink;
}

// The middle of the first horizontal run of points over link `linkIndex`, scanning the client
// area in rows; false when no point lies over that link.
bool FindLinkPoint(HANDLE process, HWND link, int linkIndex, POINT* point) {
  RemoteBlock<LHITTESTINFO> block(process);
  RECT client = {};
  if (!block.valid() || !GetClientRect(link, &client)) return false;
  for (int y = client.top + 1; y < client.bottom; y += 2) {
    int first = -1;
    int last = -1;
    for (int x = client.left; x < client.right; x += 2) {
      if (LinkAt(link, block, x, y) == linkIndex) {
        if (first < 0) first = x;
        last = x;
      } else if (first >= 0) {
        break;
      }
    }
    if (first >= 0) {
      point->x = (first + last) / 2;
      point->y = y;
      return true;
    }
  }
  return false;
}

} // namespace

bool ClickLink(HANDLE process, HWND dialog, int controlId, int linkIndex) {
  HWND link = dialog ? GetDlgItem(dialog, controlId) : nullptr;
  POINT point = {};
  if (!link || !FindLinkPoint(process, link, linkIndex, &point)) return false;
  LPARAM where = MAKELPARAM(point.x, point.y);
  // Posted, like real input: the click's handler may open something modal.
  return PostMessageW(link, WM_MOUSEMOVE, 0, where) && PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, where) &&
         PostMessageW(link, WM_LBUTTONUP, 0, where);
}

LinkState ReadLink(HANDLE process, HWND dialog, int controlId, int linkIndex) {
  LinkState state;
  HWND link = dialog ? GetDlgItem(dialog, controlId) : nullptr;
  RemoteBlock<LITEM> block(process);
  if (!link || !block.valid()) return state;
  LITEM item = {};
  item.mask = LIF_ITEMINDEX | LIF_ITEMID | LIF_URL;
  item.iLink = linkIndex;
  DWORD_PTR answered = 0;
  if (!block.Write(item) ||
      !SendMessageTimeoutW(link, LM_GETITEM, 0, block.param(), SMTO_ABORTIFHUNG, 1000, &answered) || !answered ||
      !block.Read(&item))
    return state;
  item.szID[ARRAYSIZE(item.szID) - 1] = L'\0';
  item.szUrl[ARRAYSIZE(item.szUrl) - 1] = L'\0';
  state.exists = true;
  state.id = item.szID;
  state.url = item.szUrl;
  return state;
}

bool UpdaterProcess::ClickLink(int controlId, int linkIndex) {
  return driver::ClickLink(process_, UpdaterDialog(), controlId, linkIndex);
}

LinkState UpdaterProcess::ReadLink(int controlId, int linkIndex) {
  return driver::ReadLink(process_, UpdaterDialog(), controlId, linkIndex);
}

} // namespace driver
