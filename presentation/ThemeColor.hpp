#pragma once

namespace brindleaf {

// A colour as the presentation rules name it: a fixed sRGB colour (components
// 0 to 1), or one of the desktop's own colours, resolved from the palette when
// drawn (PlatformStyle maps the roles).
struct ThemeColor {
    enum class Role {
        fixed,
        primaryLabel,   // the palette's text colour
        secondaryLabel, // the text colour at reduced opacity
        tertiaryLabel,
        accent, // the palette's highlight
        orange,
        green,
    };

    Role role = Role::fixed;
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    static constexpr ThemeColor rgb(double r, double g, double b, double a = 1) { return {Role::fixed, r, g, b, a}; }
    static constexpr ThemeColor system(Role role, double a = 1) { return {role, 0, 0, 0, a}; }

    bool operator==(const ThemeColor&) const = default;
};

} // namespace brindleaf
