#include "plugin/ModuleState.hpp"

namespace tovrel {

constinit PluginSettings ModuleSettings{0, 0, 0};
constinit EscapePress LastEscapePress = kNoPress;
constinit platform::Instance ModuleInstance = platform::Instance::None;

}  // namespace tovrel
