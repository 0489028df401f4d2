// InfoCheck.exe: the maker's console check of an Info file before it is published, built from
// the updater's own readers and rules. Single-threaded.
//   InfoCheck <info file> [--package <file>] [--previous <a.b.c.d>] [--public-key <key>] [--publisher <name>]
//   InfoCheck keygen <private key file> | verify <info file> <public key>
//   InfoCheck sign <info file> <private key file> [--expires <days>] [--serial <n>]
#include <windows.h>

#include "info_report.h"
#include "info_signing.h"
#include "output.h"

static int Usage(const Output& out) {
  Print(out, L"usage: InfoCheck <info file> [--package <file>] [--previous <a.b.c.d>] [--public-key <key>]\n"
             L"                 [--publisher <name>]   (with --package)\n"
             L"       InfoCheck keygen <private key file>\n"
             L"       InfoCheck sign <info file> <private key file> [--expires <days>] [--serial <n>]\n"
             L"       InfoCheck verify <info file> <public key>\n");
  return kCheckUsage;
}

// sign <info file> <private key file> [--expires <days>] [--serial <n>]
static int Sign(int argc, wchar_t** argv, const Output& out) {
  SignOptions options = {0, nullptr};
  for (int i = 4; i < argc; i += 2) {
    if (i + 1 >= argc) return Usage(out);
    if (lstrcmpW(argv[i], L"--expires") == 0 && options.expiresDays == 0) {
      // Digits only, and no more than the limit has: anything else is no number of days.
      const wchar_t* p = argv[i + 1];
      int days = 0;
      for (; *p >= L'0' && *p <= L'9' && days <= kMaxExpiresDays; ++p) days = days * 10 + (*p - L'0');
      if (*p || days < 1 || days > kMaxExpiresDays) {
        Print(out, L"--expires takes 1 to %d days\n", kMaxExpiresDays);
        return kCheckUsage;
      }
      options.expiresDays = days;
    } else if (lstrcmpW(argv[i], L"--serial") == 0 && !options.serial) {
      options.serial = argv[i + 1];
    } else {
      return Usage(out);
    }
  }
  return SignCommand(argv[2], argv[3], options, out);
}

int wmain(int argc, wchar_t** argv) {
  Output out = StandardOutput();
  if (argc < 2) return Usage(out);
  if (lstrcmpW(argv[1], L"keygen") == 0) return argc == 3 ? KeygenCommand(argv[2], out) : Usage(out);
  if (lstrcmpW(argv[1], L"sign") == 0) return argc >= 4 ? Sign(argc, argv, out) : Usage(out);
  if (lstrcmpW(argv[1], L"verify") == 0) return argc == 4 ? VerifyCommand(argv[2], argv[3], out) : Usage(out);
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
    } else if (lstrcmpW(argument, L"--publisher") == 0 && hasValue) {
      options.publisher = argv[++i];
    } else if (argument[0] != L'-' && !options.infoPath) {
      options.infoPath = argument;
    } else {
      return Usage(out);
    }
  }
  // The publisher is a property of the package: without one there is nothing to check it on.
  if (!options.infoPath || (options.publisher && !options.package)) return Usage(out);
  return CheckInfoFile(options, out);
}
