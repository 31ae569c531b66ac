#include "PassThroughHook.hpp"

namespace tovrel::bench {

platform::HookHandle PassThroughHandle = 0;

platform::LResult TOVREL_WINAPI PassThroughHookProc(int code, platform::WParam key,
                                                    platform::LParam flags) noexcept {
  return platform::CallNextHook(PassThroughHandle, code, key, flags);
}

}  // namespace tovrel::bench
