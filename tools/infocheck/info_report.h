// InfoCheck's check of an Info file: for each Platform section what the updater would read and
// whether it would accept it. Single-threaded, in the console program and the tests.
#pragma once
#include <windows.h>

#include "output.h"

struct CheckOptions {
  const wchar_t* infoPath;  // the Info file
  const wchar_t* package;   // the package to check Sha256 and Size against, or null
  const wchar_t* previous;  // the previous release's version text, or null
  const wchar_t* publicKey; // the public key a signed build carries (base64), or null
  const wchar_t* publisher; // the publisher a pinned build requires of the package, or null
};

// Exit codes of InfoCheck.
const int kCheckPassed = 0;   // the updater reads everything as meant
const int kCheckProblems = 1; // something the updater would refuse or misread
const int kCheckUsage = 2;    // bad arguments, or a file that cannot be read

// Writes the report to `out`; returns one of the exit codes above.
int CheckInfoFile(const CheckOptions& options, const Output& out);

// `path` made absolute against the current directory, as every verb does before it reads or
// writes: the profile functions look for a bare file name in the Windows folder, not the current
// one. False (with a message on `out`) when it cannot be resolved or does not fit.
bool ResolvePath(const wchar_t* path, wchar_t (&full)[MAX_PATH], const Output& out);
