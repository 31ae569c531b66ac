// The installation and removal of the keyboard hook, whose handle the hook record keeps.
#pragma once

namespace tovrel {

// Maps the record and installs the keyboard hook on the calling thread. False when this load
// already has a record mapped or the record cannot be created or mapped.
bool InstallHook() noexcept;

// Removes the hook the record names, clears it and releases the record. False when no record
// was mapped.
bool RemoveHook() noexcept;

}  // namespace tovrel
