#pragma once

namespace brindleaf {

// Light or dark, as the desktop's palette says (see PlatformStyle for how it
// is read from Qt).
enum class Appearance { light, dark };

} // namespace brindleaf
