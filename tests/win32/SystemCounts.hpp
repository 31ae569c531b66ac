// The process's open kernel handles and its GDI and USER objects, as the system counts them.
// Windows answers; Wine does not (GetProcessHandleCount and GetGuiResources answer 0 there), so
// under Wine the leak checks measure handle values and GDI slots instead, which hold only because
// Wine hands out the lowest free one: Windows promises no such thing.
#pragma once

#include <windows.h>

#include "UnderWine.hpp"

namespace tovrel::test {

struct SystemCounts {
  bool Answered = false;  // on Windows, where the counts below mean something
  DWORD Handles = 0;
  DWORD GdiObjects = 0;
  DWORD UserObjects = 0;
};

inline SystemCounts CountsOfThisProcess() {
  SystemCounts counts;
  if (probe::UnderWine()) return counts;
  HANDLE self = GetCurrentProcess();
  counts.GdiObjects = GetGuiResources(self, GR_GDIOBJECTS);
  counts.UserObjects = GetGuiResources(self, GR_USEROBJECTS);
  counts.Answered = GetProcessHandleCount(self, &counts.Handles) && counts.GdiObjects > 0;
  return counts;
}

// What the system may add on its own over a phase (a thread pool's handles made on first use,
// say): far less than a leak per round of any phase.
constexpr DWORD kSystemSlack = 16;

}  // namespace tovrel::test
