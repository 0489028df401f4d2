// InfoCheck.exe: the maker's console check of an Info file before it is published, built from
// the updater's own readers and rules. Single-threaded.
//   InfoCheck <info file> [--package <file>] [--previous <a.b.c.d>] [--public-key <key>]
#include <windows.h>

#include "info_report.h"
#include "output.h"

static int Usage(const Output& out) {
  Print(out, L"usage: InfoCheck <info file> [--package <file>] [--previous <a.b.c.d>] [--public-key <key>]\n");
  return kCheckUsage;
}

int wmain(int argc, wchar_t** argv) {
  Output out = StandardOutput();
  if (argc < 2) return Usage(out);
  CheckOptions options = {};
  for (int i = 1; i < argc; ++i) {
    const wchar_t* argument = argv[i];
    bool hasValue = i + 1 < argc;
    if (lstrcmpW(argument, L"--package") == 0 && hasValue) {
      options.package = argv[++i];
    } else if (lstrcmpW(argument, L"--previous") == 0 && hasValue) {
      options.previous = argv[++i];
    } else if (lstrcmpW(argument, L"--public-key") == 0 && hasValue) {
      options.publicKey = argv[++i];
    } else if (argument[0] != L'-' && !options.infoPath) {
      options.infoPath = argument;
    } else {
      return Usage(out);
    }
  }
  if (!options.infoPath) return Usage(out);
  return CheckInfoFile(options, out);
}
