// The Installer thread: runs the downloaded package with the Info file's command line under a
// marquee bar, waits for it, and reports its outcome to the controller (code 5).
#pragma once
#include <windows.h>
#include <shellapi.h>

#include "info/info_values.h" // kInstConfigChars

typedef BOOL(WINAPI* CreateProcessFunction)(LPCWSTR applicationName, LPWSTR commandLine,
                                            LPSECURITY_ATTRIBUTES processAttributes,
                                            LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                            DWORD creationFlags, LPVOID environment,
                                            LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                                            LPPROCESS_INFORMATION processInformation);
typedef BOOL(WINAPI* ShellExecuteExFunction)(SHELLEXECUTEINFOW* info);

// The package's first start: CreateProcessW. Only tests replace it (Windows under Wine never
// asks for elevation). Read by the Installer thread.
extern CreateProcessFunction g_createProcess;
// The elevated start after ERROR_ELEVATION_REQUIRED: ShellExecuteExW. Only tests replace it.
// Read by the Installer thread.
extern ShellExecuteExFunction g_shellExecuteEx;

// The Installer thread's procedure; created with a null parameter; returns 1. Sends code 5 with
// kInstallerSucceeded when the package ran and exited with 0, 3010 or 1641, else kInstallerFailed.
DWORD WINAPI RunInstaller(void* parameter);

// What follows the first (program-name) token of a command line and the blanks after it: the
// parameters of an elevated start. Blanks before the first token are skipped; a first token that
// opens with a quote runs to the closing quote (or the end). Points into commandLine.
const wchar_t* SkipProgramName(const wchar_t* commandLine);
