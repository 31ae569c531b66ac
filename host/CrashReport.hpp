// How the test programs and the test host end on a crash.
//
// Under Wine a crash goes on to Wine's debugger, which prints a backtrace within seconds (the
// prefix has no crash dialog); only where 32-bit code is emulated (tools/wine-run sets
// TOVREL_WINE_EMULATED=1 there) the program reports the exception itself and ends with its code
// at once, since the debugger's own start costs about a minute there.
//
// On Windows nothing may wait for a click nobody makes (a run started by a CI service, say): no
// error dialog and no Windows Error Reporting (SetErrorMode, inherited by the programs they
// start), and no just-in-time debugger, which the system's default filter would start: the
// program's own filter prints the exception and ends the process first.
#pragma once

#include <windows.h>

#include <cstdio>

#include "UnderWine.hpp"

namespace tovrel::probe {

// What the program puts back before a crash ends it (settings it changed for the run, say).
inline void (*g_beforeCrashEnds)() = nullptr;

inline LONG WINAPI EndAtOnce(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  std::fprintf(stderr, "unhandled exception %08lx at %p; ended without a backtrace%s\n",
               record.ExceptionCode, record.ExceptionAddress, UnderWine() ? " (emulated)" : "");
  std::fflush(stderr);
  if (g_beforeCrashEnds != nullptr) g_beforeCrashEnds();
  TerminateProcess(GetCurrentProcess(), record.ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

inline void EndAtOnceOnCrash() {
  if (!UnderWine()) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(&EndAtOnce);
    return;
  }
  char value[4] = {};
  if (GetEnvironmentVariableA("TOVREL_WINE_EMULATED", value, sizeof value) == 1 &&
      value[0] == '1') {
    SetUnhandledExceptionFilter(&EndAtOnce);
  }
}

}  // namespace tovrel::probe
