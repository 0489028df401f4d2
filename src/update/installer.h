// The Installer thread: runs the downloaded package with the Info file's command line under a
// marquee bar, waits for it, and reports its outcome to the controller (code 5).
#pragma once
#include <windows.h>

const int kInstConfigChars = 128;

DWORD WINAPI RunInstaller(void* parameter);
