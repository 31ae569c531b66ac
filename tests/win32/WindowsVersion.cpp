// Before any test runs: when the run asked Wine for a Windows version (TOVREL_WINE_VERSION, one of
// Wine's names), the version query must report that version, or every test of the run fails. (On
// Windows such a run's cases are skipped: see TestProgram.hpp.)
#include "WindowsVersion.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "UnderWine.hpp"

namespace tovrel::test {
namespace {

struct Version {
  const char* WineName;
  DWORD Major;
  DWORD Minor;
  DWORD PlatformId;
};

constexpr Version kVersions[] = {
    {"winxp", 5, 1, VER_PLATFORM_WIN32_NT},
    {"win2k", 5, 0, VER_PLATFORM_WIN32_NT},
    {"win98", 4, 10, VER_PLATFORM_WIN32_WINDOWS},
};

class AskedVersion : public testing::Environment {
 public:
  void SetUp() override {
    const char* asked = std::getenv("TOVREL_WINE_VERSION");
    if (asked == nullptr || *asked == '\0' || !probe::UnderWine()) return;
    const OSVERSIONINFOA reported = ReportedVersion();
    for (const Version& version : kVersions) {
      if (std::strcmp(version.WineName, asked) != 0) continue;
      ASSERT_TRUE(reported.dwMajorVersion == version.Major &&
                  reported.dwMinorVersion == version.Minor &&
                  reported.dwPlatformId == version.PlatformId)
          << "asked for " << asked << ", the version query reports " << reported.dwMajorVersion
          << "." << reported.dwMinorVersion << " on platform " << reported.dwPlatformId;
      std::printf("Windows version: %s (%lu.%lu, platform %lu)\n", asked, reported.dwMajorVersion,
                  reported.dwMinorVersion, reported.dwPlatformId);
      return;
    }
    FAIL() << "TOVREL_WINE_VERSION=" << asked << " is not one of winxp, win2k, win98";
  }
};

[[maybe_unused]] testing::Environment* const kAskedVersion =
    testing::AddGlobalTestEnvironment(new AskedVersion);

}  // namespace

OSVERSIONINFOA ReportedVersion() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) version.dwPlatformId = 0;
  return version;
}

const char* ExpectedDialogFace() {
  return ReportedVersion().dwPlatformId == VER_PLATFORM_WIN32_NT ? "MS Shell Dlg 2"
                                                                 : "MS Shell Dlg";
}

}  // namespace tovrel::test
