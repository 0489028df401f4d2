// Where InfoCheck's report goes: the console program writes it to standard output, the tests
// collect it. Single-threaded.
#pragma once
#include <windows.h>

struct Output {
  void (*write)(void* context, const wchar_t* text); // receives each formatted piece
  void* context;
};

// Formats (printf-style, bounded to 2048 characters; longer text is cut) and writes.
void Print(const Output& out, const wchar_t* format, ...);

// An Output that writes UTF-8 to standard output (WriteConsoleW on a console).
Output StandardOutput();
