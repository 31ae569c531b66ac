// The Windows version the Wine tests run under: Wine's default, or the one a run asks for with
// TOVREL_WINE_VERSION (which tools/wine-run sets in the prefix for that run).
#pragma once

#include <windows.h>

namespace tovrel::test {

// The version query's answer, as the test program itself gets it.
OSVERSIONINFOA ReportedVersion();

// The face the dialog's form and every control must use: "MS Shell Dlg 2" on the NT family,
// "MS Shell Dlg" on the earlier one.
const char* ExpectedDialogFace();

}  // namespace tovrel::test
