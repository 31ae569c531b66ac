// The module's whole life cycle, as the host drives it, with every platform call that can fail
// failing in turn, one call at a time, and with memory running out at each allocation in turn.
// Whatever fails, nothing crashes or escapes an entry point, nothing is left open, and the module
// keeps its word: defaults for what cannot be read, a failed write skipped without stopping the
// others, Initialize always true, Uninitialize true exactly when a record was mapped, Configure
// changing nothing when the dialog cannot be made. Which failure leads to which fallback is for
// the tests of each part; here every run is held to the promises that hold for all of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "PluginFixture.hpp"
#include "plugin/Plugin.hpp"

namespace tovrel {
namespace {

using fake::FakeSystem;
using fake::Op;
using fake::RegOp;

// Names long enough that each copy of one takes memory of its own.
constexpr char kUser[] = "carol@example.org";
// The host's profiles, in the registry's enumeration order; the user is one of them.
constexpr const char* kProfiles[] = {"alice@example.org", "bob.smith@example.org", kUser};
// The user's stored settings: each differs from its default, so a value that was not read shows.
constexpr PluginSettings kStored{0, MinimizeIMWindow, 1};
// The settings fields in the order they are read and written.
constexpr std::uint8_t PluginSettings::*kFields[] = {&PluginSettings::EnablePlugin,
                                                     &PluginSettings::ESCAction,
                                                     &PluginSettings::MinimizeMsgrMainWin};
constexpr const char* kValueNames[] = {"EnablePlugin", "ESCAction", "MinimizeMsgrMainWin"};
// What the next hook in the chain answers for an event the filter passes on.
constexpr platform::LResult kPassedOn = 42;

std::string KeyOf(const std::string& profile) {
  return "Software\\Quorvel\\MsgPlus2\\" + profile + "\\Preferences\\Plugins\\tovrel.dll";
}

// Whether every one of `items` is in `all`, in the same order.
bool InOrderWithin(const std::vector<std::string>& items, const std::vector<std::string>& all) {
  auto next = all.begin();
  for (const std::string& item : items) {
    next = std::find(next, all.end(), item);
    if (next == all.end()) return false;
    ++next;
  }
  return true;
}

// The fault being injected, for the terminate handler: an exception escaping an entry point
// ends the program there, and this says where.
char g_fault[64] = "none";

// What a run with nothing failing does.
struct Model {
  PluginSettings Loaded = kStored;
  bool Record = true;  // a hook record is mapped
  bool Hook = true;    // the keyboard hook is installed
  bool Dialog = true;  // the dialog is made and shown
  // Whose settings are saved on OK: each profile, then the user's own.
  std::vector<std::string> Saves{std::begin(kProfiles), std::end(kProfiles)};

  Model() { Saves.emplace_back(kUser); }

  // The dialog's user enables the plug-in and keeps the rest.
  PluginSettings Confirmed() const { return {1, Loaded.ESCAction, Loaded.MinimizeMsgrMainWin}; }
  std::vector<std::string> Writes() const {
    std::vector<std::string> writes;
    const PluginSettings saved = Confirmed();
    for (const std::string& profile : Saves) {
      for (std::size_t field = 0; field < 3; ++field) {
        writes.push_back(KeyOf(profile) + "\\" + kValueNames[field] + "=" +
                         std::to_string(saved.*kFields[field]));
      }
    }
    return writes;
  }
};

// What one run did and left behind.
struct Outcome {
  bool Initialized = false;
  PluginSettings Loaded{};
  bool RecordMapped = false;
  bool Hooked = false;
  platform::LResult KeyResult = -1;
  PluginSettings Configured{};
  bool Uninitialized = false;
  // Keys and forms open after any entry point; the record or a hook held after Uninitialize.
  int HeldBetween = 0;
  // Read after the run:
  bool Minimized = false;
  int ShownForms = 0;
  std::vector<std::string> Writes;
};

class FaultInjectionTest : public PluginTest {
 protected:
  static void SetUpTestSuite() {
    std::set_terminate([] {
      std::fprintf(stderr, "terminated while injecting: %s\n", g_fault);
      std::abort();
    });
  }

  // A fresh system: the host's profiles, the user's stored settings, a conversation window in
  // the foreground, and a dialog user who enables the plug-in, ticks "Set this configuration as
  // default for all users" and clicks OK.
  void Prepare() {
    PluginTest::SetUp();
    for (const char* profile : kProfiles) {
      system_.Registry.AddKey(std::string("Software\\Quorvel\\MsgPlus2\\") + profile);
    }
    for (std::size_t field = 0; field < 3; ++field) {
      system_.Registry.SetDword(KeyOf(kUser), kValueNames[field], kStored.*kFields[field]);
    }
    system_.SetForeground(system_.AddWindow(kConversationWindowClass));
    system_.NextHookResult = kPassedOn;
    system_.User = [](toolkit::TForm& form) {
      // The only form the module shows; the module has no type information to ask.
      auto& dialog = static_cast<TfrmConfig&>(form);  // NOLINT(*-static-cast-downcast)
      dialog.SetChecked(dialog.cbEnablePlug, true);
      dialog.Click(kCbSetAsDefault);
      dialog.Click(kBtnOK);
    };
  }

  // Start, Initialize, an Escape press and its release, Configure, Uninitialize, unload. Allocates
  // nothing of its own while it runs.
  Outcome Run() {
    Outcome got;
    ModuleStart(kModule);
    got.Initialized = PluginInitialize(kUser);
    got.Loaded = ModuleSettings;
    got.RecordMapped = static_cast<bool>(HookRecView);
    got.Hooked = !system_.Hooks.empty();
    got.HeldBetween += system_.Registry.OpenKeys() + system_.OpenForms;
    system_.DeliverKey(0, kVkEscape, 0);
    got.KeyResult =
        system_.DeliverKey(0, kVkEscape, static_cast<platform::LParam>(kKeyReleasedFlag));
    PluginConfigure();
    got.Configured = ModuleSettings;
    got.HeldBetween += system_.Registry.OpenKeys() + system_.OpenForms;
    got.Uninitialized = PluginUninitialize();
    got.HeldBetween += system_.Registry.OpenKeys() + system_.OpenForms +
                       system_.OpenMappingHandles() + system_.MappedViews() +
                       static_cast<int>(system_.Hooks.size());
    ModuleUnload();
    return got;
  }

  // Once memory is plentiful again.
  void Collect(Outcome& got) const {
    got.Minimized = std::any_of(
        system_.Messages.begin(), system_.Messages.end(),
        [](const auto& m) { return m.Message == kWmSysCommand && m.WParamValue == kScMinimize; });
    got.ShownForms = system_.ShownForms;
    got.Writes = system_.Registry.Writes;
  }

  void ExpectNothingLeft(const Outcome& got) const {
    EXPECT_EQ(got.HeldBetween, 0);
    EXPECT_EQ(system_.Registry.OpenKeys(), 0);
    EXPECT_EQ(system_.OpenMappingHandles(), 0);
    EXPECT_EQ(system_.MappedViews(), 0);
    EXPECT_EQ(system_.OpenForms, 0);
    EXPECT_TRUE(system_.Hooks.empty());
    EXPECT_EQ(frmConfig, nullptr);
    EXPECT_EQ(HookRecView.Get(), nullptr);
    EXPECT_EQ(HookRecMapping.Get(), platform::Mapping::None);
  }

  // The Escape release in a conversation window, as the settings and the hook decide it.
  static void ExpectKey(const Outcome& got, const Model& model) {
    const bool swallowed = model.Hook && model.Loaded.EnablePlugin != 0;
    const platform::LResult expected = !model.Hook ? 0 : swallowed ? kSwallowResult : kPassedOn;
    EXPECT_EQ(got.KeyResult, expected);
    EXPECT_EQ(got.Minimized, swallowed && model.Loaded.ESCAction == MinimizeIMWindow);
  }

  // What every run keeps to, whatever failed in it: each value read is the stored one or its
  // default, the key is treated as those settings say, and what is written is what a full run
  // writes, in order, but possibly fewer.
  void ExpectKeptItsWord(const Outcome& got) const {
    ExpectNothingLeft(got);
    EXPECT_TRUE(got.Initialized);
    EXPECT_EQ(got.Uninitialized, got.RecordMapped);
    EXPECT_TRUE(got.RecordMapped || !got.Hooked) << "a hook only with a record to hold it";
    for (std::size_t field = 0; field < 3; ++field) {
      const std::uint8_t value = got.Loaded.*kFields[field];
      EXPECT_TRUE(value == kStored.*kFields[field] || value == kDefaultSettings.*kFields[field])
          << kValueNames[field];
    }
    Model model;
    model.Loaded = got.Loaded;
    model.Hook = got.Hooked;
    ExpectKey(got, model);
    if (got.ShownForms == 0) {
      EXPECT_EQ(got.Configured, got.Loaded) << "no dialog: nothing changes";
      EXPECT_TRUE(got.Writes.empty());
    } else {
      EXPECT_EQ(got.Configured, model.Confirmed());
      EXPECT_TRUE(InOrderWithin(got.Writes, model.Writes())) << "only writes a full run makes";
    }
  }

  void Expect(const Outcome& got, const Model& model) const {
    ExpectNothingLeft(got);
    EXPECT_TRUE(got.Initialized);
    EXPECT_EQ(got.Loaded, model.Loaded);
    EXPECT_EQ(got.RecordMapped, model.Record);
    EXPECT_EQ(got.Uninitialized, model.Record);
    ExpectKey(got, model);
    EXPECT_EQ(got.ShownForms, model.Dialog ? 1 : 0);
    EXPECT_EQ(got.Configured, model.Dialog ? model.Confirmed() : model.Loaded);
    EXPECT_EQ(got.Writes, model.Dialog ? model.Writes() : std::vector<std::string>{});
  }
};

// One row per kind of failing call: how to fail its n-th call and how to count its calls.
struct FaultKind {
  const char* Name;
  void (*Fail)(FakeSystem&, int n);
  int (*Calls)(const FakeSystem&);
};
void PrintTo(const FaultKind& kind, std::ostream* out) {
  *out << kind.Name;
}

// A run that never stops calling is a fault of its own.
constexpr int kMaxRuns = 1000;

template <RegOp kOp>
void FailRegistry(FakeSystem& system, int n) {
  system.Registry.FailCall(kOp, n);
}
template <RegOp kOp>
int RegistryCalls(const FakeSystem& system) {
  return system.Registry.Calls(kOp);
}
template <Op kOp>
void FailSystem(FakeSystem& system, int n) {
  system.FailCall(kOp, n);
}
template <Op kOp>
int SystemCalls(const FakeSystem& system) {
  return system.Calls(kOp);
}

constexpr FaultKind kFaultKinds[] = {
    {"CreateKey", FailRegistry<RegOp::CreateKey>, RegistryCalls<RegOp::CreateKey>},
    {"OpenKey", FailRegistry<RegOp::OpenKey>, RegistryCalls<RegOp::OpenKey>},
    {"QueryInfo", FailRegistry<RegOp::QueryInfo>, RegistryCalls<RegOp::QueryInfo>},
    {"EnumKey", FailRegistry<RegOp::EnumKey>, RegistryCalls<RegOp::EnumKey>},
    {"QueryValue", FailRegistry<RegOp::QueryValue>, RegistryCalls<RegOp::QueryValue>},
    {"SetValue", FailRegistry<RegOp::SetValue>, RegistryCalls<RegOp::SetValue>},
    {"CreateMapping", FailSystem<Op::CreateMapping>, SystemCalls<Op::CreateMapping>},
    {"OpenMapping", FailSystem<Op::OpenMapping>, SystemCalls<Op::OpenMapping>},
    {"MapView", FailSystem<Op::MapView>, SystemCalls<Op::MapView>},
    {"SetKeyboardHook", FailSystem<Op::SetKeyboardHook>, SystemCalls<Op::SetKeyboardHook>},
    {"CreateForm", FailSystem<Op::CreateForm>, SystemCalls<Op::CreateForm>},
};

class FailingCallTest : public FaultInjectionTest, public testing::WithParamInterface<FaultKind> {};

TEST_P(FailingCallTest, EachCallFailsInTurn) {
  const FaultKind& kind = GetParam();
  int injected = 0;
  for (int n = 1;; ++n) {
    ASSERT_LT(n, kMaxRuns);
    std::snprintf(g_fault, sizeof g_fault, "%s call %d", kind.Name, n);
    Prepare();
    kind.Fail(system_, n);
    Outcome got = Run();
    Collect(got);
    const bool failed = kind.Calls(system_) >= n;
    SCOPED_TRACE(failed ? g_fault : "no call left to fail");
    ExpectKeptItsWord(got);
    if (!failed) {
      Expect(got, Model{});
      break;
    }
    ++injected;
  }
  RecordProperty("faults_injected", injected);
  EXPECT_GT(injected, 0) << "the life cycle makes this call, and each of its calls failed in turn";
}

INSTANTIATE_TEST_SUITE_P(Calls, FailingCallTest, testing::ValuesIn(kFaultKinds),
                         [](const testing::TestParamInfo<FaultKind>& row) {
                           return std::string(row.param.Name);
                         });

// From the n-th allocation on, memory is out. The mapping and the hook take none of the module's
// memory, so the record is always mapped; the settings are the stored ones or, when the key's
// path cannot be built, the defaults; what is written is what a run with memory writes, in order,
// but possibly fewer.
TEST_F(FaultInjectionTest, OutOfMemoryFromEachAllocationOn) {
  int injected = 0;
  for (int n = 1;; ++n) {
    ASSERT_LT(n, kMaxRuns);
    std::snprintf(g_fault, sizeof g_fault, "out of memory from allocation %d", n);
    Prepare();
    test::FailAllocations(n);
    Outcome got = Run();
    const bool failed = test::RefusedAllocations() > 0;
    test::FailAllocations(0);
    Collect(got);
    SCOPED_TRACE(failed ? g_fault : "no allocation left to fail");

    ExpectKeptItsWord(got);
    EXPECT_TRUE(got.RecordMapped);
    EXPECT_TRUE(got.Hooked);
    EXPECT_TRUE(got.Loaded == kStored || got.Loaded == kDefaultSettings);
    if (!failed) {
      Expect(got, Model{});
      break;
    }
    ++injected;
  }
  RecordProperty("faults_injected", injected);
  EXPECT_GT(injected, 0) << "the life cycle allocates, and each allocation was refused in turn";
}

}  // namespace
}  // namespace tovrel
