#include "plugin/ModuleState.hpp"

namespace tovrel {

PluginSettings ModuleSettings{0, 0, 0};
platform::Instance ModuleInstance = platform::Instance::None;

}  // namespace tovrel
