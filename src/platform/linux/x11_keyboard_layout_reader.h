#pragma once

#include "platform/keyboard_layout_reading.h"

#include <memory>

namespace tavrolin {

// The X11 implementation: its own connection to $DISPLAY, opened on first use and reopened
// after the server went away; every read holds one mutex for its whole duration.
// systemKeyboardLayoutReader() is the process's one instance.
std::unique_ptr<KeyboardLayoutReading> createKeyboardLayoutReader();

// Makes `group` the locked group of the core keyboard of $DISPLAY (what a layout switcher
// does); answers whether the server accepted it. Desktop tests use it to pick a layout.
bool lockKeyboardGroup(int group);

}  // namespace tavrolin
