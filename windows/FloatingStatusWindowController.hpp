#pragma once

#include "platform/UserDefaults.hpp"
#include "presentation/StatusDashboardModel.hpp"
#include "windows/FloatingWindowGeometry.hpp"
#include "windows/FrameSaveThrottle.hpp"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

class QPropertyAnimation;
class QVariantAnimation;

namespace brindleaf {

class FloatingStatusContentView;
class FloatingStatusWindow;

// Owns the floating status window: builds it on demand around the floating
// content, places it (the saved frame when it is usable, else under the tray
// icon), fits its height to the content with a short animation, fades it in
// and out, remembers where the user put it under "magicStatusWindowFrame"
// (at most every 250 ms while it moves, and once when it hides), and discards
// it after every close. A show during the fade-out keeps the window.
//
// Main thread only.
class FloatingStatusWindowController final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* frameKey = "magicStatusWindowFrame";
    static constexpr int heightAnimationMs = 280;
    static constexpr int fadeInMs = 220;
    static constexpr int fadeOutMs = 150;

    FloatingStatusWindowController(StatusDashboardModel& model, std::shared_ptr<UserDefaults> defaults,
                                   QObject* parent = nullptr);
    ~FloatingStatusWindowController() override;

    // Anchor: the tray icon's rectangle in global coordinates, when known.
    void show(std::optional<QRect> anchor);
    void hide();

    // The window counts as shown while it is visible and not fading out.
    bool isShown() const;
    bool isAnimatingOut() const { return isAnimatingOut_; }
    FloatingStatusWindow* window() const { return window_; }
    FloatingStatusContentView* content() const;
    double currentFitHeight() const { return currentFitHeight_; }
    // How many times the frame was written (for diagnostics).
    std::size_t framesSaved() const { return framesSaved_; }

    // The attached screens, the primary one first.
    static std::vector<FloatingWindowGeometry::Screen> attachedScreens();

private:
    void build();
    void contentHeightChanged(double height);
    void frameChanged();
    void saveFrame();
    void userResized();
    std::optional<FloatingWindowGeometry::Rect> availableAreaFor(const QRect& frame) const;

    StatusDashboardModel& model_;
    std::shared_ptr<UserDefaults> defaults_;
    QPointer<FloatingStatusWindow> window_;
    QPointer<QVariantAnimation> fade_;
    QPointer<QPropertyAnimation> heightAnimation_;
    bool isAnimatingOut_ = false;
    bool isAdjustingHeight_ = false;
    bool isPlacing_ = false;
    double currentFitHeight_ = 0;
    double lastContentHeight_ = 0;
    FrameSaveThrottle throttle_;
    QTimer trailingSave_;
    std::size_t framesSaved_ = 0;
};

} // namespace brindleaf
