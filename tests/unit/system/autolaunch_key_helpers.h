// Test helpers for the Autolaunch key (HKLM\SOFTWARE\Orvane\autolaunch) on the real registry:
// putting it into each state the tests need and reading it back. Callers hold the `registry` lock.
#pragma once
#include <windows.h>

#include <string>

namespace autolaunch_key {

// Removes HKLM\SOFTWARE\Orvane with everything below it, lifting any deny entries first.
void Remove();

// Creates the Autolaunch key (not the values) and returns true when it exists afterwards.
bool Create();

bool Exists();

bool SetString(const wchar_t* name, const std::wstring& value);
bool SetDword(const wchar_t* name, DWORD value);
bool SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes);

// Reads a value of any type: false when it is missing; type and raw bytes otherwise.
bool Read(const wchar_t* name, DWORD* type, std::string* bytes);

// Adds an entry that denies `access` to Everyone on the existing Autolaunch key.
bool Deny(DWORD access);

// Leaves HKLM\SOFTWARE\Orvane as a volatile key without the Autolaunch key: Windows then refuses
// to create the (non-volatile) Autolaunch key below it.
bool MakeUncreatable();

} // namespace autolaunch_key
