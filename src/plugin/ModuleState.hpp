// Module-wide state shared by the plug-in's units. Plain globals: the hook callback reads them on
// every keystroke and the host drives everything else from one thread.
#pragma once

#include "platform/platform.hpp"
#include "plugin/EscapeFilter.hpp"
#include "uPreferences.hpp"

namespace tovrel {

// The settings the Escape filter reads at every key event. All zero (disabled) until the first
// Initialize.
extern PluginSettings ModuleSettings;

// The last Escape press the hook decided on, which the release pairs with. Empty at load; each
// Initialize starts it empty again.
extern EscapePress LastEscapePress;

// The module's own instance handle, given by the system at load; the hook is registered with it.
extern platform::Instance ModuleInstance;

}  // namespace tovrel
