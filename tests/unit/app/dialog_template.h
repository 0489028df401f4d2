// Reads a DIALOGEX template back from the module's resources, so tests can compare what the
// resource compiler produced with the layout the program promises.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct TemplateControl {
  int id;
  std::wstring windowClass; // predefined classes by name ("Button", "Static")
  std::wstring text;        // "#128" for an ordinal
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;
};

struct DialogTemplate {
  bool valid = false;
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::wstring caption;
  WORD pointSize = 0, weight = 0;
  BYTE italic = 0, charset = 0;
  std::wstring typeface;
  std::vector<TemplateControl> controls;
};

DialogTemplate LoadDialogTemplate(HINSTANCE module, int resourceId);
