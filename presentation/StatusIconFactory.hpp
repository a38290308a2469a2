#pragma once

#include "presentation/StatusIconImage.hpp"
#include "services/StatusIconOptions.hpp"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace brindleaf {

// Every image the tray icon can show: an idle image, a waiting image and the
// running animation, per icon style, rendering mode and size. The pulse style
// is drawn here (a heart-monitor trace that scrolls while agents work, a dot
// in the top right corner while one waits); the cloud style comes from our
// animated WebP art (":/cloud/cloud-{working,idle}-{color,gray}.webp"), cropped
// to the visible area its frames share and fitted into a box per size.
//
// Main thread only: the set cache has no lock.
class StatusIconFactory {
public:
    struct IconSet {
        StatusIconImageRef idle;
        StatusIconImageRef waiting;
        std::vector<StatusIconImageRef> running; // never empty
        double frameInterval = 0.1;
        bool isTemplate = false;
    };

    // What the pulse drawing shows.
    struct Glyph {
        enum class Kind { running, idle, waiting };
        Kind kind = Kind::idle;
        double phase = 0; // running only, in [0, 1)
    };

    // Reads a cloud resource by name ("cloud-working-color"); absent when missing.
    using ResourceLoader = std::function<std::optional<QByteArray>(const QString& name)>;

    // The set for the combination, built on first request and then the very
    // same images every time.
    static const IconSet& iconSet(StatusIconStyle style, StatusIconRenderingMode mode, StatusIconSizeOption size);

    // The set as the tray gets it: the images of iconSet() on the style's
    // tray canvas (StatusIconGeometry::trayCanvas), so that the tray's own
    // scaling keeps the chosen size; built once per combination, then the
    // very same images every time. The settings' preview shows iconSet().
    static const IconSet& trayIconSet(StatusIconStyle style, StatusIconRenderingMode mode, StatusIconSizeOption size);

    // Builds a set afresh (no cache); the cloud art comes from the loader, or
    // from the compiled-in resources when none is given.
    static IconSet buildIconSet(StatusIconStyle style, StatusIconRenderingMode mode, StatusIconSizeOption size,
                                const ResourceLoader& loader = {});

    // One pulse image, w x h points where h is the pulse height of the size.
    static StatusIconImageRef makeGlyphImage(Glyph glyph, StatusIconRenderingMode mode, StatusIconSizeOption size);

    // The accessibility texts.
    static const QString workingDescription; // "Brindleaf: Working"
    static const QString idleDescription;    // "Brindleaf: Idle"
    static const QString waitingDescription; // "Brindleaf: Waiting for You"

    static std::optional<QByteArray> loadCompiledResource(const QString& name);
};

} // namespace brindleaf
