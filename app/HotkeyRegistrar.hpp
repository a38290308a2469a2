#pragma once

#include "services/HotkeyShortcut.hpp"

namespace brindleaf {

// One global shortcut slot (the popover's or the floating window's). Each
// call replaces the slot's earlier registration; a shortcut without command,
// option or control registers nothing.
class HotkeyRegistrar {
public:
    virtual ~HotkeyRegistrar() = default;
    virtual void registerShortcut(const HotkeyShortcut& shortcut) = 0;
};

} // namespace brindleaf
