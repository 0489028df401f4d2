// DLGTEMPLATEEX reader for the template tests.
#include "dialog_template.h"

namespace {

class Reader {
public:
  Reader(const BYTE* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  template <typename T> T read() {
    T value{};
    if (offset_ + sizeof(T) > size_) {
      ok_ = false;
      return value;
    }
    memcpy(&value, data_ + offset_, sizeof(T));
    offset_ += sizeof(T);
    return value;
  }
  std::wstring string() {
    std::wstring text;
    for (WORD c = read<WORD>(); ok_ && c != 0; c = read<WORD>()) text.push_back(static_cast<wchar_t>(c));
    return text;
  }
  // A name or an ordinal: 0 for none, 0xFFFF and a number, or a string.
  std::wstring nameOrOrdinal() {
    WORD first = read<WORD>();
    if (first == 0) return std::wstring();
    if (first == 0xFFFF) return L"#" + std::to_wstring(read<WORD>());
    offset_ -= sizeof(WORD);
    return string();
  }
  void alignDword() { offset_ = (offset_ + 3) & ~size_t(3); }
  void skip(size_t bytes) { offset_ += bytes; }

private:
  const BYTE* data_;
  size_t size_;
  size_t offset_ = 0;
  bool ok_ = true;
};

std::wstring ClassName(const std::wstring& raw) {
  static const struct { const wchar_t* ordinal; const wchar_t* name; } kPredefined[] = {
      {L"#128", L"Button"}, {L"#129", L"Edit"}, {L"#130", L"Static"},
      {L"#131", L"ListBox"}, {L"#132", L"ScrollBar"}, {L"#133", L"ComboBox"}};
  for (const auto& p : kPredefined)
    if (raw == p.ordinal) return p.name;
  return raw;
}

} // namespace

DialogTemplate LoadDialogTemplate(HINSTANCE module, int resourceId) {
  DialogTemplate result;
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(resourceId), reinterpret_cast<LPCWSTR>(RT_DIALOG));
  if (!resource) return result;
  const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
  Reader reader(data, SizeofResource(module, resource));
  WORD version = reader.read<WORD>();
  WORD signature = reader.read<WORD>();
  if (version != 1 || signature != 0xFFFF) return result;
  reader.read<DWORD>(); // help ID
  result.exStyle = reader.read<DWORD>();
  result.style = reader.read<DWORD>();
  WORD count = reader.read<WORD>();
  result.x = reader.read<short>();
  result.y = reader.read<short>();
  result.cx = reader.read<short>();
  result.cy = reader.read<short>();
  reader.nameOrOrdinal(); // menu
  reader.nameOrOrdinal(); // class
  result.caption = reader.string();
  if (result.style & (DS_SETFONT | DS_FIXEDSYS)) {
    result.pointSize = reader.read<WORD>();
    result.weight = reader.read<WORD>();
    result.italic = reader.read<BYTE>();
    result.charset = reader.read<BYTE>();
    result.typeface = reader.string();
  }
  for (WORD i = 0; i < count && reader.ok(); ++i) {
    reader.alignDword();
    TemplateControl control;
    reader.read<DWORD>(); // help ID
    control.exStyle = reader.read<DWORD>();
    control.style = reader.read<DWORD>();
    control.x = reader.read<short>();
    control.y = reader.read<short>();
    control.cx = reader.read<short>();
    control.cy = reader.read<short>();
    control.id = static_cast<int>(reader.read<DWORD>());
    control.windowClass = ClassName(reader.nameOrOrdinal());
    control.text = reader.nameOrOrdinal();
    reader.skip(reader.read<WORD>()); // creation data
    result.controls.push_back(control);
  }
  result.valid = reader.ok();
  return result;
}
