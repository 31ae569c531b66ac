// The per-process hook record: the keyboard hook's handle in a small named mapping, one per
// process, rather than in a module variable, so that a later load of the module in the same
// process finds the record of an earlier one. The hook callback reads it; the installation
// (plugin/HookInstall) writes it.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.hpp"

namespace tovrel {

struct HookRec {
  std::uint32_t HookHandle;  // the installed keyboard hook; 0 when none is stored
  std::uint32_t Reserved;    // zero as created; never read or written
};
static_assert(sizeof(HookRec) == 8, "the shared record is exactly 8 bytes");

// "Tovrel_HookRecMemBlock_" and the process id in decimal: at most 33 characters and a NUL.
struct MappingName {
  char Text[40];
  std::string_view View() const noexcept { return Text; }
};

void UnmapHookRec(HookRec* view) noexcept;
using OwnedHookRecView = platform::Owned<HookRec*, &UnmapHookRec>;

// Module-wide, so held without a destructor: RemoveHook or the detach step releases them.
// The mapping handle InstallHook obtained.
extern platform::HeldMapping HookRecMapping;
// The record as mapped into this load of the module; non-null means a record is mapped.
extern platform::Held<HookRec*, &UnmapHookRec> HookRecView;

MappingName HookRecMappingName() noexcept;

// Releases this load's hold on the record: the view, then the mapping handle, if it holds one.
void ReleaseHookRec() noexcept;

// The library notification: 1 (process attach) maps an existing record of this process, 0
// (process detach) releases this load's hold on the record. Other reasons are ignored.
void ModuleAttachDetach(std::uint32_t reason) noexcept;

}  // namespace tovrel
