#pragma once

namespace brindleaf {

// The named text sizes the windows use, in logical pixels (the desktop's
// points): the usual desktop type ramp, body text at 13.
enum class TextStyle {
    largeTitle,
    title,
    title2,
    title3,
    headline,
    body,
    callout,
    subheadline,
    footnote,
    caption,
    caption2
};

constexpr double textStyleSize(TextStyle style) {
    switch (style) {
    case TextStyle::largeTitle:
        return 26;
    case TextStyle::title:
        return 22;
    case TextStyle::title2:
        return 17;
    case TextStyle::title3:
        return 15;
    case TextStyle::headline:
        return 13; // semibold
    case TextStyle::body:
        return 13;
    case TextStyle::callout:
        return 12;
    case TextStyle::subheadline:
        return 11;
    case TextStyle::footnote:
        return 10;
    case TextStyle::caption:
        return 10;
    case TextStyle::caption2:
        return 10;
    }
    return 13;
}

} // namespace brindleaf
