// The built tovrel.dll's version resource, read as the system's file properties read it, against
// the project's version that the build passes in as TOVREL_VERSION.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

#ifndef TOVREL_VERSION
#error "TOVREL_VERSION (the project's version, \"major.minor.patch\") is set by the build"
#endif

namespace tovrel {
namespace {

constexpr char kDll[] = "tovrel.dll";  // beside the tests' working directory, as the host loads it

struct ProjectVersion {
  unsigned major = 0;
  unsigned minor = 0;
  unsigned patch = 0;
};

// "1.2.3" and nothing else.
bool Parse(const std::string& text, ProjectVersion* version) {
  int consumed = 0;
  return std::sscanf(text.c_str(), "%u.%u.%u%n", &version->major, &version->minor, &version->patch,
                     &consumed) == 3 &&
         static_cast<std::size_t>(consumed) == text.size();
}

class VersionResourceTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Parse(TOVREL_VERSION, &project_)) << TOVREL_VERSION;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(kDll, &ignored);
    ASSERT_NE(size, 0u) << kDll << " has no version resource (error " << GetLastError() << ")";
    data_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoA(kDll, 0, size, data_.data()));
  }

  // A value of the US English, Unicode string table, or "(missing)".
  std::string Text(const std::string& name) {
    const std::string path = "\\StringFileInfo\\040904B0\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data_.data(), path.c_str(), &value, &length) || value == nullptr) {
      return "(missing)";
    }
    return std::string(static_cast<const char*>(value));
  }

  ProjectVersion project_;
  std::vector<char> data_;
};

TEST_F(VersionResourceTest, NumbersAreTheProjectVersion) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data_.data(), "\\", &value, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD high = (project_.major << 16) | project_.minor;
  const DWORD low = project_.patch << 16;
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(VersionResourceTest, TextsAreTheProjectVersionAndLicence) {
  EXPECT_EQ(Text("FileVersion"), TOVREL_VERSION);
  EXPECT_EQ(Text("ProductVersion"), TOVREL_VERSION);
  EXPECT_EQ(Text("OriginalFilename"), kDll);
  EXPECT_EQ(Text("ProductName"), "Tovrel plugin");
  const std::string copyright = Text("LegalCopyright");
  EXPECT_NE(copyright.find("The tovrel authors"), std::string::npos) << copyright;
  EXPECT_NE(copyright.find("MIT License"), std::string::npos) << copyright;
}

}  // namespace
}  // namespace tovrel
