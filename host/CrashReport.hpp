// The test programs' own end on a crash where 32-bit code is emulated (tools/wine-run sets
// TOVREL_WINE_EMULATED=1 there). Elsewhere a crash goes on to Wine's debugger, which prints a
// backtrace within seconds; under emulation the debugger's own start costs about a minute, so the
// program reports the exception itself and ends with its code at once.
#pragma once

#include <windows.h>

#include <cstdio>

namespace tovrel::probe {

inline LONG WINAPI EndAtOnce(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  std::fprintf(stderr, "unhandled exception %08lx at %p; ended without a backtrace (emulated)\n",
               record.ExceptionCode, record.ExceptionAddress);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), record.ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

inline void EndAtOnceOnCrashWhereEmulated() {
  char value[4] = {};
  if (GetEnvironmentVariableA("TOVREL_WINE_EMULATED", value, sizeof value) == 1 &&
      value[0] == '1') {
    SetUnhandledExceptionFilter(&EndAtOnce);
  }
}

}  // namespace tovrel::probe
