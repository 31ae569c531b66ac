// A fresh fake system and a freshly loaded module for each test.
#pragma once

#include <gtest/gtest.h>

#include "AllocationControl.hpp"
#include "FakePlatform.hpp"
#include "plugin/HookInstall.hpp"
#include "plugin/HookRecord.hpp"
#include "plugin/ModuleState.hpp"

namespace tovrel {

// The module-wide variables of one load of the module. Two loads in one process are two copies
// of these; a test switches between them to act as one load or the other. Switching hands the
// handles over without releasing them: the load left keeps them for when it is entered again.
struct ModuleLoad {
  PluginSettings Settings{0, 0, 0};
  platform::Mapping Mapping = platform::Mapping::None;
  HookRec* View = nullptr;
  EscapePress LastPress = kNoPress;

  void Enter() const {
    ModuleSettings = Settings;
    LastEscapePress = LastPress;
    static_cast<void>(HookRecMapping.Release());
    static_cast<void>(HookRecView.Release());
    HookRecMapping.Reset(Mapping);
    HookRecView.Reset(View);
  }
  void Leave() {
    Settings = ModuleSettings;
    LastPress = LastEscapePress;
    Mapping = HookRecMapping.Release();
    View = HookRecView.Release();
  }
};

class PluginTest : public testing::Test {
 protected:
  static constexpr auto kModule = static_cast<platform::Instance>(0x10000000);

  void SetUp() override {
    system_.Reset();
    ModuleLoad{}.Enter();
    ModuleInstance = kModule;
  }
  void TearDown() override { ModuleLoad{}.Enter(); }

  fake::FakeSystem& system_ = fake::FakeSystem::Get();
};

// A fresh fake registry; afterwards, memory is plentiful again and no key may be left open.
class RegistryTest : public testing::Test {
 protected:
  void SetUp() override { fake::FakeSystem::Get().Reset(); }
  void TearDown() override {
    test::FailAllocations(0);
    EXPECT_EQ(registry_.OpenKeys(), 0) << "every key is closed on every path";
  }

  fake::FakeRegistry& registry_ = fake::FakeSystem::Get().Registry;
};

}  // namespace tovrel
