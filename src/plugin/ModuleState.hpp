// Module-wide state shared by the plug-in's units. Plain globals: the hook callback reads them on
// every keystroke and the host drives everything else from one thread.
#pragma once

#include "platform/platform.hpp"
#include "uPreferences.hpp"

namespace tovrel {

// The settings the Escape filter reads at every key event. All zero (disabled) until the first
// Initialize.
extern PluginSettings ModuleSettings;

// The module's own instance handle, given by the system at load; the hook is registered with it.
extern platform::Instance ModuleInstance;

}  // namespace tovrel
