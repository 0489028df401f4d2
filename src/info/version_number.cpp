// The Version number of a version text: a bounded scanner that reads "a.b.c.d" the way the
// pattern "%d.%d.%d.%d" would, without the unbounded trailing "%s". Pure; any thread.
#include "info/version_number.h"

namespace {

// The white space that a "%d" conversion skips.
bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads one "%d" at *cursor: blanks, an optional sign, then at least one digit. The value wraps
// modulo 2^32, which is what 32-bit two's-complement arithmetic taken as unsigned gives.
bool ReadNumber(const wchar_t** cursor, unsigned* value) {
  const wchar_t* p = *cursor;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == L'+' || *p == L'-') {
    negative = *p == L'-';
    ++p;
  }
  if (!IsDigit(*p)) return false;
  unsigned number = 0;
  while (IsDigit(*p)) {
    number = number * 10u + static_cast<unsigned>(*p - L'0');
    ++p;
  }
  *value = negative ? 0u - number : number;
  *cursor = p;
  return true;
}

} // namespace

bool ScanVersionFields(const wchar_t* text, unsigned fields[4]) {
  for (int field = 0; field < 4; ++field) fields[field] = 0;
  if (!text) return false;
  const wchar_t* cursor = text;
  for (int field = 0; field < 4; ++field) {
    if (field > 0) {
      if (*cursor != L'.') return false;
      ++cursor;
    }
    if (!ReadNumber(&cursor, &fields[field])) return false;
  }
  return true;
}

bool ScanVersionNumber(const wchar_t* text, unsigned* value) {
  *value = 0;
  unsigned fields[4] = {};
  if (!ScanVersionFields(text, fields)) return false;
  unsigned result = 0;
  for (int field = 0; field < 4; ++field) result = result * 10u + fields[field];
  *value = result;
  return true;
}

unsigned ParseVersionNumber(const wchar_t* text) {
  unsigned value = 0;
  ScanVersionNumber(text, &value);
  return value;
}
