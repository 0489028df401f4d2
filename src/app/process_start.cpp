// The process's first code: the executable's entry point, which restricts the DLL search before
// anything else can load a library, seeds the stack canary, and only then enters the C runtime
// (whose start-up runs the static constructors and then wWinMain).
//
// GCC's stack protector would otherwise bring libssp's guard, whose constructor asks a crypto
// provider (CryptAcquireContextA: advapi32 -> cryptsp -> rsaenh and their imports) for a seed
// before wWinMain, loading those DLLs by the default search order, the executable's folder
// first. The guard, its failure handlers and the seeding are therefore ours. This file is
// compiled without the stack protector: its functions run while the canary changes.
#include <windows.h>

#include <bcrypt.h>
#include <intrin.h>
#include <stdint.h>

#include "base/system_libraries.h"

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#endif

#ifdef _MSC_VER
// MSVC's own canary (/GS) is seeded by its runtime without loading a library.
extern "C" DWORD wWinMainCRTStartup(LPVOID);
#else
// MinGW-w64's runtime entry; its -municode build (crt2u.o) calls wWinMain under this name too.
extern "C" int WinMainCRTStartup(void);

extern "C" {
// Read by every protected function on entry and compared on exit. Any value but this start value
// is set before the first protected function that outlives the seeding runs.
uintptr_t __stack_chk_guard = static_cast<uintptr_t>(0x2B992DDFA232ull);

// A canary or a checked copy found overwritten: the stack or a buffer is no longer trusted, so
// nothing of the program may run on. Windows' own status for this end.
[[noreturn]] void __stack_chk_fail(void) {
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap(); // TerminateProcess of the own process does not return
}

[[noreturn]] void __chk_fail(void) {
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap();
}
}
#endif

#ifndef _MSC_VER
namespace {

// Eight random bytes from the system's generator in bcrypt.dll, loaded from the system directory
// now that the search is restricted; 0 when it cannot be had.
unsigned long long SystemRandom() {
  typedef NTSTATUS(WINAPI * OpenFunction)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
  typedef NTSTATUS(WINAPI * RandomFunction)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);
  typedef NTSTATUS(WINAPI * CloseFunction)(BCRYPT_ALG_HANDLE, ULONG);
  OpenFunction open = ProcedureAs<OpenFunction>(SystemProcedure(L"bcrypt.dll", "BCryptOpenAlgorithmProvider"));
  RandomFunction random = ProcedureAs<RandomFunction>(SystemProcedure(L"bcrypt.dll", "BCryptGenRandom"));
  CloseFunction close = ProcedureAs<CloseFunction>(SystemProcedure(L"bcrypt.dll", "BCryptCloseAlgorithmProvider"));
  if (!open || !random || !close) return 0;
  // An algorithm handle rather than the system-preferred flag, which Vista lacks.
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!NT_SUCCESS(open(&algorithm, BCRYPT_RNG_ALGORITHM, nullptr, 0))) return 0;
  unsigned long long value = 0;
  if (!NT_SUCCESS(random(algorithm, reinterpret_cast<PUCHAR>(&value), sizeof value, 0))) value = 0;
  close(algorithm, 0);
  return value;
}

// The random bytes, mixed with what differs between starts anyway (as Windows' own canary is
// made), so that a failed generator still leaves no guessable value. Never 0, never the start value.
void SeedStackGuard() {
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  unsigned long long seed = SystemRandom();
  seed ^= static_cast<unsigned long long>(counter.QuadPart) * 0x9E3779B97F4A7C15ull;
  seed ^= (static_cast<unsigned long long>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
  seed ^= static_cast<unsigned long long>(GetCurrentProcessId()) << 32 ^ GetCurrentThreadId();
  seed ^= static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&counter)); // the stack's random base
  seed ^= __rdtsc();
  // The low byte zero, as glibc does: a string copy running past a buffer stops at the canary.
  seed &= ~0xFFull;
  if (seed == 0 || seed == 0x2B992DDFA200ull) seed = 0x5A17C0DE00ull ^ (static_cast<unsigned long long>(counter.QuadPart) << 16);
  __stack_chk_guard = static_cast<uintptr_t>(seed);
}

} // namespace
#endif

// The entry point the executable is linked with (instead of the C runtime's own, which it calls).
// Nothing of ours or of the runtime has run before it; the DLLs loaded so far are those the
// executable imports, all of them KnownDLLs.
extern "C" DWORD WINAPI ProcessStart(void* environment) {
  RestrictDllSearch();
#ifdef _MSC_VER
  return wWinMainCRTStartup(environment);
#else
  (void)environment;
  SeedStackGuard();
  return static_cast<DWORD>(WinMainCRTStartup());
#endif
}
