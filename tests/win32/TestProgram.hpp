// The test program's own conduct on the system it runs on, Wine or Windows: it names the platform
// first, ends itself at a time limit, and puts back what it changed for the run.
#pragma once

#include <windows.h>

#include <string>

namespace tovrel::test {

// "platform: ..." with the Windows version, Wine's version or "not Wine", the ANSI code page,
// the screen's density, the monitors and the time limit.
std::string PlatformLine();

// Before the first case: the crash handling, the time limit (TOVREL_TIME_LIMIT_S) and, on
// Windows, the Sticky Keys shortcut off for the run.
void PrepareTheRun();
// After the last case; also run by the time limit, a crash and a console's Ctrl+C or close.
void RestoreTheSystem();

// The case now running (nullptr between cases), which the time limit names.
void CaseRunning(const char* name);

// A process the program starts that must end with it at the time limit, until it is let go:
// StartingAProcess() before CreateProcess, EndsWithTheProgram() once it returns (with nullptr
// when the start failed). The time limit waits for a start under way.
void StartingAProcess();
void EndsWithTheProgram(HANDLE process);
void LetGo(const void* process);

// On Windows, why a run that sets one of Wine's knobs (TOVREL_WINE_DPI, _CODEPAGE, _VERSION,
// _SCREENS) cannot be made here; nullptr under Wine or when none is set.
const char* WhyOnlyUnderWine();

}  // namespace tovrel::test
