// tovrel.dll on the real platform, through its exports, called as the messenger add-on host calls
// them: loaded by name, functions looked up by name, the Windows calling convention.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "DialogDriver.hpp"
#include "KeyProbe.hpp"
#include "PluginApi.hpp"
#include "SettingsKey.hpp"
#include "TestProgram.hpp"
#include "WindowsVersion.hpp"

namespace tovrel {
namespace {

using host::PluginApi;
using test::User;

using host::kHostRoot;
using host::SettingsKeyOf;

// The three stored values, or -1 for each one missing.
std::string StoredSettings(const std::string& user) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyOf(user).c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return "missing";
  }
  std::string text;
  for (const char* name : {"EnablePlugin", "ESCAction", "MinimizeMsgrMainWin"}) {
    DWORD value = 0;
    DWORD size = sizeof value;
    const bool read = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                                       &size) == ERROR_SUCCESS;
    if (!text.empty()) text.push_back(',');
    text.append(read ? std::to_string(value) : "-1");
  }
  RegCloseKey(key);
  return text;
}

// Calls a stdcall function with `count` 32-bit arguments and reports how far the stack pointer
// moved across the call: 0 when the callee removed its arguments, as the convention says.
std::uint32_t CallChecked(const void* function, const std::uint32_t* args, std::uint32_t count,
                          std::int32_t* moved) {
  std::uint32_t result;
  std::int32_t delta;
  asm volatile(
      "movl %%esp, %%ebx\n\t"
      "1:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "pushl -4(%%esi,%%ecx,4)\n\t"
      "decl %%ecx\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "call *%%edi\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%ebx, %%ecx\n\t"
      "movl %%ebx, %%esp\n\t"
      : "=a"(result), "=c"(delta), "+S"(args), "+D"(function)
      : "c"(count)
      : "ebx", "edx", "memory", "cc");
  *moved = delta;
  return result;
}

// Escape press and release in a window of the conversation class, brought to the front.
probe::EscapeOutcome EscapeInConversation() {
  probe::ProbeWindow window("IMWindowClass");
  if (!window.BringToFront()) return {};
  return probe::SendEscape(window);
}

using test::ConfigureAs;

class ExportsTest : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, kHostRoot);
    ASSERT_TRUE(plugin_.Load()) << "tovrel.dll or one of its exports is missing";
  }
  void TearDown() override {
    plugin_.Uninitialize();
    plugin_.Unload();
    RegDeleteTreeA(HKEY_CURRENT_USER, kHostRoot);
  }
  PluginApi plugin_;
};

TEST_F(ExportsTest, FiveExportsByNameAndOrdinal_EachRemovingItsArguments) {
  const struct {
    const char* Name;
    int Ordinal;
    std::uint32_t Arguments;
  } exports[] = {{"ParseCommand", 1, 4},
                 {"PublishInfo", 2, 3},
                 {"Configure", 3, 0},
                 {"Uninitialize", 4, 0},
                 {"Initialize", 5, 3}};
  for (const auto& e : exports) {
    SCOPED_TRACE(e.Name);
    const FARPROC byName = GetProcAddress(plugin_.Module, e.Name);
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(GetProcAddress(plugin_.Module, MAKEINTRESOURCEA(e.Ordinal)), byName);
  }
  EXPECT_EQ(GetProcAddress(plugin_.Module, MAKEINTRESOURCEA(6)), nullptr) << "exactly five";

  char name[32] = {};
  const std::uint32_t initArgs[] = {0xDEADBEEF, reinterpret_cast<std::uint32_t>("esp-user"), 7};
  const std::uint32_t publishArgs[] = {reinterpret_cast<std::uint32_t>(name), 1, 2};
  const std::uint32_t parseArgs[] = {1, 2, 3, 4};
  std::int32_t moved = -1;
  EXPECT_EQ(CallChecked(reinterpret_cast<void*>(plugin_.Initialize), initArgs, 3, &moved), 1u);
  EXPECT_EQ(moved, 0);
  EXPECT_EQ(
      CallChecked(reinterpret_cast<void*>(plugin_.PublishInfo), publishArgs, 3, &moved) & 0xFF, 1u);
  EXPECT_EQ(moved, 0);
  EXPECT_EQ(CallChecked(reinterpret_cast<void*>(plugin_.ParseCommand), parseArgs, 4, &moved), 0u);
  EXPECT_EQ(moved, 0);
  EXPECT_EQ(CallChecked(reinterpret_cast<void*>(plugin_.Uninitialize), nullptr, 0, &moved), 1u);
  EXPECT_EQ(moved, 0);
}

TEST_F(ExportsTest, InitializeAndUninitializeInAnyOrder) {
  EXPECT_EQ(plugin_.Uninitialize(), 0u) << "before any Initialize";

  // A null identifier is an empty one: the settings are those stored under the root's own
  // Preferences key, here the defaults.
  EXPECT_EQ(plugin_.Initialize(0, nullptr, 0), 1u);
  EXPECT_FALSE(EscapeInConversation().PressDelivered) << "defaults: enabled, Escape swallowed";
  EXPECT_EQ(plugin_.Uninitialize(), 1u);
  EXPECT_EQ(plugin_.Uninitialize(), 0u) << "a second time in a row";

  // Twice without Uninitialize: the second user's settings apply, the first hook stays.
  ASSERT_TRUE(host::WriteSettings("first", 0, 0, 0));
  ASSERT_TRUE(host::WriteSettings("second", 1, 1, 0));
  EXPECT_EQ(plugin_.Initialize(0, "first", 0), 1u);
  EXPECT_TRUE(EscapeInConversation().PressDelivered) << "the first user has it disabled";
  EXPECT_EQ(plugin_.Initialize(0, "second", 0), 1u);
  const probe::EscapeOutcome outcome = EscapeInConversation();
  EXPECT_FALSE(outcome.PressDelivered);
  EXPECT_TRUE(outcome.MinimizedByRelease) << "the second user's settings";
  EXPECT_EQ(plugin_.Uninitialize(), 1u);
  EXPECT_TRUE(EscapeInConversation().PressDelivered) << "no hook is left behind";
}

TEST_F(ExportsTest, ConfigureCancelChangesNothing_OKTakesEffectAtOnceAndIsStored) {
  ASSERT_TRUE(host::WriteSettings("carol", 1, 0, 0));
  ASSERT_EQ(plugin_.Initialize(0, "carol", 0), 1u);

  ConfigureAs(plugin_, [](User& u) {
    u.Click("Enable plugin");  // unticks it
    u.Click("Cancel");
  });
  EXPECT_FALSE(EscapeInConversation().PressDelivered) << "still enabled after Cancel";
  EXPECT_EQ(StoredSettings("carol"), "1,0,0");

  ConfigureAs(plugin_, [](User& u) {
    ASSERT_TRUE(u.NextActionByKey(1));  // the second item: minimize IM window
    u.Click("OK");
  });
  EXPECT_TRUE(EscapeInConversation().MinimizedByRelease) << "the next Escape follows OK";
  EXPECT_EQ(StoredSettings("carol"), "1,1,0");
}

// The face a window draws its text in.
std::string FaceOf(HWND window) {
  auto font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
  LOGFONTA face{};
  if (font == nullptr || GetObjectA(font, sizeof face, &face) == 0) return "(no font)";
  return face.lfFaceName;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM children) {
  reinterpret_cast<std::vector<HWND>*>(children)->push_back(window);
  return TRUE;
}

TEST_F(ExportsTest, DialogFaceFollowsThePlatform_OnTheFormAndEveryControl) {
  const std::string expected = test::ExpectedDialogFace();
  ConfigureAs(plugin_, [&](User& u) {
    EXPECT_EQ(FaceOf(u.Dialog), expected) << "the form";
    std::vector<HWND> children;
    EnumChildWindows(u.Dialog, &CollectChild, reinterpret_cast<LPARAM>(&children));
    EXPECT_GE(children.size(), 8u) << "group box, label, three check boxes, list, two buttons";
    for (HWND child : children) {
      char className[64] = "";
      char text[128] = "";
      GetClassNameA(child, className, sizeof className);
      GetWindowTextA(child, text, sizeof text);
      EXPECT_EQ(FaceOf(child), expected) << className << " \"" << text << "\"";
    }
    u.Click("Cancel");
  });
}

TEST_F(ExportsTest, ConfigureBeforeInitialize_StartsDisabledAndSavesForTheEmptyUser) {
  ConfigureAs(plugin_, [](User& u) {
    EXPECT_EQ(SendMessageA(u.Child("Button", "Enable plugin"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    u.Click("OK");
  });
  // The empty user's path passes over the empty name.
  EXPECT_EQ(StoredSettings(""), "0,0,0");
}

TEST_F(ExportsTest, PublishInfoWritesTheNameAndItsNulOnly_ParseCommandAnswersNo) {
  char buffer[32];
  for (int call = 0; call < 2; ++call) {
    std::memset(buffer, 0xCC, sizeof buffer);
    EXPECT_EQ(plugin_.PublishInfo(buffer, 0xFFFFFFFF, static_cast<std::uint32_t>(call)) & 0xFF, 1u);
    EXPECT_STREQ(buffer, "Tovrel plugin");
    EXPECT_EQ(static_cast<unsigned char>(buffer[14]), 0xCC) << "nothing beyond the NUL";
  }
  EXPECT_EQ(plugin_.PublishInfo(nullptr, 0, 0) & 0xFF, 0u) << "a null buffer gets nothing";
  EXPECT_EQ(plugin_.ParseCommand(0, 0, 0, 0), 0u);
  EXPECT_EQ(plugin_.ParseCommand(0xFFFFFFFF, 1, 0xDEADBEEF, 42), 0u);
}

TEST_F(ExportsTest, UnloadAndLoadAgain_EscapeIsFilteredAgain) {
  ASSERT_EQ(plugin_.Initialize(0, "dave", 0), 1u);
  ASSERT_EQ(plugin_.Uninitialize(), 1u);
  plugin_.Unload();
  ASSERT_TRUE(plugin_.Load());
  ASSERT_EQ(plugin_.Initialize(0, "dave", 0), 1u);
  EXPECT_FALSE(EscapeInConversation().PressDelivered);
}

// A second host process (tovrel-host.exe --hold), which initializes the plug-in when told to and
// holds it until it reads a line. It is started before the first test, if its test is to run, and
// told to go on only by that test: a 32-bit program's start costs about a minute where the machine
// emulates 32-bit code, and this way that start overlaps the other tests. (Wine's CreateProcess
// returns only once the new process has come up, so it is called on a thread of its own.) It ends
// with the program at the program's time limit; otherwise, at the end of its input.
class SecondHost {
 public:
  SecondHost() = default;
  void Start() {
    starter_ = std::thread([this] { CreateIt(); });
  }
  ~SecondHost() {
    if (starter_.joinable()) starter_.join();
    if (out_ != nullptr) CloseHandle(out_);  // a host still waiting ends at its input's end
    if (in_ != nullptr) CloseHandle(in_);
    if (!started_) return;
    WaitForSingleObject(process_.hProcess, 10000);
    test::LetGo(process_.hProcess);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  SecondHost(const SecondHost&) = delete;
  SecondHost& operator=(const SecondHost&) = delete;

  // Whether it was started; waits for CreateProcess to return.
  bool Started() {
    if (starter_.joinable()) starter_.join();
    return started_;
  }
  DWORD Pid() const { return process_.dwProcessId; }
  HANDLE Process() const { return process_.hProcess; }
  // The host's next line; it comes as slowly as the host starts.
  std::string Line() {
    std::string text;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(in_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
      if (c != '\r') text.push_back(c);  // its console output is text: lines end in CR LF
    }
    return text;
  }
  bool Tell(const char* line) {
    DWORD written = 0;
    const auto size = static_cast<DWORD>(std::strlen(line));
    return WriteFile(out_, line, size, &written, nullptr) && written == size;
  }

 private:
  void CreateIt() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childOut = nullptr, childIn = nullptr;
    if (!CreatePipe(&in_, &childOut, &inherit, 0)) return;
    if (!CreatePipe(&childIn, &out_, &inherit, 0)) return;
    SetHandleInformation(in_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = childOut;
    char command[] = "tovrel-host.exe --hold frank";
    test::StartingAProcess();
    started_ = CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &startup, &process_) != 0;
    test::EndsWithTheProgram(started_ ? process_.hProcess : nullptr);
    CloseHandle(childOut);
    CloseHandle(childIn);
  }

  HANDLE in_ = nullptr;
  HANDLE out_ = nullptr;
  PROCESS_INFORMATION process_{};
  bool started_ = false;
  std::thread starter_;
};

SecondHost& TheSecondHost() {
  static SecondHost host;
  return host;
}

class StartTheSecondHostEarly : public testing::Environment {
 public:
  void SetUp() override {
    const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
    for (int s = 0; s < unit.total_test_suite_count(); ++s) {
      const testing::TestSuite& suite = *unit.GetTestSuite(s);
      for (int t = 0; t < suite.total_test_count(); ++t) {
        const testing::TestInfo& test = *suite.GetTestInfo(t);
        if (test.should_run() &&
            std::strcmp(test.name(), "EveryHostProcessHasARecordOfItsOwn") == 0) {
          TheSecondHost().Start();
          return;
        }
      }
    }
  }
};
[[maybe_unused]] testing::Environment* const kStartTheSecondHostEarly =
    testing::AddGlobalTestEnvironment(new StartTheSecondHostEarly);

TEST_F(ExportsTest, EveryHostProcessHasARecordOfItsOwn) {
  ASSERT_EQ(plugin_.Initialize(0, "erin", 0), 1u);

  SecondHost& child = TheSecondHost();
  ASSERT_TRUE(child.Started());
  ASSERT_EQ(child.Line(), "started");
  ASSERT_TRUE(child.Tell("go\n"));
  const std::string ready = child.Line();
  unsigned long childPid = 0;
  ASSERT_EQ(std::sscanf(ready.c_str(), "ready %lu", &childPid), 1) << ready;
  EXPECT_EQ(childPid, child.Pid());

  auto recordOf = [](DWORD pid) -> std::uint32_t {
    const std::string name = "Tovrel_HookRecMemBlock_" + std::to_string(pid);
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    if (mapping == nullptr) return 0;
    std::uint32_t hook = 0;
    if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) {
      std::memcpy(&hook, view, sizeof hook);
      UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return hook;
  };
  const std::uint32_t ours = recordOf(GetCurrentProcessId());
  const std::uint32_t theirs = recordOf(child.Pid());
  EXPECT_NE(ours, 0u);
  EXPECT_NE(theirs, 0u);
  EXPECT_NE(ours, theirs) << "each record holds its own process's hook";

  ASSERT_TRUE(child.Tell("done\n"));
  EXPECT_EQ(WaitForSingleObject(child.Process(), 120000), WAIT_OBJECT_0);
  DWORD exitCode = 99;
  GetExitCodeProcess(child.Process(), &exitCode);
  EXPECT_EQ(exitCode, 0u) << "its Uninitialize found its own record";
}

}  // namespace
}  // namespace tovrel
