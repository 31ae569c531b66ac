// The plug-in's face to the host: what each of the five exports does, and the library's start and
// unload. The exports themselves (calling convention, names, ordinals) are Windows-only glue in
// plugin/win32; everything here runs and is tested natively.
#pragma once

#include "Text.hpp"
#include "fConfig.hpp"
#include "platform/platform.hpp"

namespace tovrel {

// The user identifier the host passed to Initialize, as UTF-16; empty until then. Released by the
// library's unload.
extern HeldText16 UserKey;
// The name PublishInfo hands the host: set at load, emptied at unload. It lives in the module's
// data, so that neither needs memory.
extern char PluginDisplayName[16];
// The dialog while Configure runs it; null otherwise.
extern TfrmConfig* frmConfig;

// Nothing below throws, and none of it fails on the host: running out of memory only skips a step.

// Takes the user identifier (8-bit text in the system code page, or null), loads that user's
// settings and installs the hook on the calling thread. Always true.
bool PluginInitialize(const char* userId) noexcept;
// Removes the hook: true when a record was mapped.
bool PluginUninitialize() noexcept;
// Shows the configuration dialog modally; after OK its values take effect at the next key event
// and are saved for UserKey.
void PluginConfigure() noexcept;
// Copies the display name and its NUL into `buffer`, which the host makes large enough. A null
// buffer receives nothing and the answer is false.
bool PluginPublishInfo(char* buffer) noexcept;

// The library's start and unload, from the system's process notifications.
void ModuleStart(platform::Instance instance) noexcept;
void ModuleUnload() noexcept;

}  // namespace tovrel
