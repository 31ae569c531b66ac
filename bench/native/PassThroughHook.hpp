// The floor the hook callback is measured against: a hook procedure that does nothing but pass
// the event on to the next hook, built as the hook callback is (its own unit, in a static
// library, over the same platform layer).
#pragma once

#include "platform/platform.hpp"

namespace tovrel::bench {

// The handle the pass-through procedure hands on, as a hook keeps the one it was installed with.
extern platform::HookHandle PassThroughHandle;

platform::LResult TOVREL_WINAPI PassThroughHookProc(int code, platform::WParam key,
                                                    platform::LParam flags) noexcept;

}  // namespace tovrel::bench
