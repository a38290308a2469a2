#include "windows/FloatingStatusWindowController.hpp"

#include "presentation/FloatingStatusContentView.hpp"
#include "presentation/WindowFocus.hpp"
#include "windows/FloatingStatusWindow.hpp"
#include "windows/WindowManagerHints.hpp"
#include "windows/X11Desktop.hpp"

#include <QEasingCurve>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>

#include <cmath>

namespace brindleaf {

namespace {

using Geometry = FloatingWindowGeometry::Rect;

Geometry toRect(const QRect& rect) {
    return {double(rect.x()), double(rect.y()), double(rect.width()), double(rect.height())};
}

QRect toQRect(const Geometry& rect) {
    return QRect(int(std::lround(rect.x)), int(std::lround(rect.y)), int(std::lround(rect.width)),
                 int(std::lround(rect.height)));
}

double monotonicNow() { return monotonicSeconds(); }

// A Wayland client cannot make its window see-through (Qt's platform warns
// on every change): there the fades keep their time, the window stays opaque.
void setOpacity(QWidget* window, double opacity) {
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) window->setWindowOpacity(opacity);
}

// A fade of the window's opacity from one value to another.
QVariantAnimation* makeFade(QWidget* window, double from, double to, int milliseconds, QEasingCurve::Type curve) {
    auto* fade = new QVariantAnimation(window);
    fade->setDuration(milliseconds);
    fade->setStartValue(from);
    fade->setEndValue(to);
    fade->setEasingCurve(curve);
    QObject::connect(fade, &QVariantAnimation::valueChanged, window,
                     [window](const QVariant& value) { setOpacity(window, value.toDouble()); });
    return fade;
}

} // namespace

FloatingStatusWindowController::FloatingStatusWindowController(StatusDashboardModel& model,
                                                               std::shared_ptr<UserDefaults> defaults, QObject* parent)
    : QObject(parent), model_(model), defaults_(std::move(defaults)) {
    trailingSave_.setSingleShot(true);
    connect(&trailingSave_, &QTimer::timeout, this, [this] {
        saveFrame();
        throttle_.saved(monotonicNow());
    });
}

FloatingStatusWindowController::~FloatingStatusWindowController() { delete window_.data(); }

std::vector<FloatingWindowGeometry::Screen> FloatingStatusWindowController::attachedScreens() {
    std::vector<FloatingWindowGeometry::Screen> screens;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) screens.push_back({toRect(primary->geometry()), toRect(primary->availableGeometry())});
    for (QScreen* screen : QGuiApplication::screens())
        if (screen != primary) screens.push_back({toRect(screen->geometry()), toRect(screen->availableGeometry())});
    return screens;
}

FloatingStatusContentView* FloatingStatusWindowController::content() const {
    return window_ ? static_cast<FloatingStatusContentView*>(window_->content()) : nullptr;
}

bool FloatingStatusWindowController::isShown() const { return window_ && window_->isVisible() && !isAnimatingOut_; }

void FloatingStatusWindowController::build() {
    QPointer<FloatingStatusWindowController> self(this);
    auto* content = new FloatingStatusContentView(
        model_,
        [self] {
            if (self) self->hide();
        },
        [self](double height) {
            if (self) self->contentHeightChanged(height);
        });
    window_ = new FloatingStatusWindow(content, X11Desktop::hasCompositor());
    window_->onClose = [self] {
        if (self) self->hide();
    };
    window_->onMoved = [self] {
        if (self) self->frameChanged();
    };
    window_->onResized = [self] {
        if (self) self->userResized();
    };
}

std::optional<FloatingWindowGeometry::Rect> FloatingStatusWindowController::availableAreaFor(const QRect& frame) const {
    QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (!screen && window_) screen = window_->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return std::nullopt;
    return toRect(screen->availableGeometry());
}

void FloatingStatusWindowController::show(std::optional<QRect> anchor) {
    if (window_ && isAnimatingOut_) {
        // Shown again while fading out: stop the fade, so its end never hides
        // this window, and keep it.
        if (fade_) fade_->stop();
        isAnimatingOut_ = false;
        setOpacity(window_, 1);
        window_->raise();
        window_->activateWindow();
        return;
    }
    if (window_ && window_->isVisible()) {
        window_->raise();
        window_->activateWindow();
        return;
    }
    if (!window_) build();

    isPlacing_ = true;
    const auto screens = attachedScreens();
    std::optional<std::string> saved = defaults_ ? defaults_->string(frameKey) : std::nullopt;
    std::optional<std::string_view> savedText;
    if (saved) savedText = *saved;
    std::optional<Geometry> anchorRect;
    if (anchor) anchorRect = toRect(*anchor);
    Geometry frame = FloatingWindowGeometry::usableSavedFrame(savedText, screens)
                         .value_or(FloatingWindowGeometry::defaultPlacement(anchorRect, screens));
    frame.width = std::max(frame.width, FloatingWindowGeometry::minimumWidth);
    window_->setGeometry(toQRect(frame));
    if (auto fit = FloatingWindowGeometry::fit(frame, lastContentHeight_, availableAreaFor(toQRect(frame)))) {
        currentFitHeight_ = fit->targetHeight;
        if (fit->frame) window_->setGeometry(toQRect(*fit->frame));
    }

    isAnimatingOut_ = false;
    setOpacity(window_, 0);
    window_->winId();
    const auto hints = WindowManagerHints::forRole(WindowManagerHints::Role::floatingPanel);
    X11Desktop::showOnAllDesktops(window_);
    X11Desktop::applyHints(window_, hints);
    window_->show();
    X11Desktop::showOnAllDesktops(window_);
    X11Desktop::applyHints(window_, hints);
    window_->raise();
    window_->activateWindow();
    clearInitialFocus(window_);
    isPlacing_ = false;

    auto* fade = makeFade(window_, 0.0, 1.0, fadeInMs, QEasingCurve::OutCubic);
    fade_ = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void FloatingStatusWindowController::hide() {
    if (!window_ || !window_->isVisible() || isAnimatingOut_) return;
    // Where the user left it, once, before the fade.
    trailingSave_.stop();
    saveFrame();
    isAnimatingOut_ = true;
    if (fade_) fade_->stop();
    if (heightAnimation_) heightAnimation_->stop();
    isAdjustingHeight_ = false;
    auto* fade = makeFade(window_, window_->windowOpacity(), 0.0, fadeOutMs, QEasingCurve::InCubic);
    QPointer<FloatingStatusWindow> closing(window_);
    QPointer<FloatingStatusWindowController> self(this);
    connect(fade, &QVariantAnimation::finished, this, [self, closing] {
        // A stopped fade (shown again) never finishes, so this window is still closing.
        if (!self || !closing) return;
        closing->hide();
        self->isAnimatingOut_ = false;
        if (self->window_ == closing) self->window_ = nullptr;
        closing->deleteLater();
    });
    fade_ = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void FloatingStatusWindowController::contentHeightChanged(double height) {
    if (!std::isfinite(height) || height <= 1) return;
    lastContentHeight_ = height;
    if (!window_ || !window_->isVisible() || isAnimatingOut_) return;
    const QRect current = window_->geometry();
    auto fit = FloatingWindowGeometry::fit(toRect(current), height, availableAreaFor(current));
    if (!fit) return;
    currentFitHeight_ = fit->targetHeight;
    if (!fit->frame) return;
    if (heightAnimation_) heightAnimation_->stop();
    isAdjustingHeight_ = true;
    auto* animation = new QPropertyAnimation(window_, "geometry", window_);
    animation->setDuration(heightAnimationMs);
    animation->setStartValue(current);
    animation->setEndValue(toQRect(*fit->frame));
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.2, 0), QPointF(0, 1), QPointF(1, 1));
    animation->setEasingCurve(curve);
    QPointer<FloatingStatusWindowController> self(this);
    connect(animation, &QPropertyAnimation::finished, this, [self] {
        if (!self) return;
        self->isAdjustingHeight_ = false;
        self->saveFrame();
    });
    heightAnimation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void FloatingStatusWindowController::userResized() {
    // Only the width is the user's: the height follows the content.
    if (window_ && !isAdjustingHeight_ && !isPlacing_ && currentFitHeight_ > 1) {
        const int fitted = int(std::lround(currentFitHeight_));
        if (window_->height() != fitted) {
            window_->resize(window_->width(), fitted);
            return;
        }
    }
    frameChanged();
}

void FloatingStatusWindowController::frameChanged() {
    if (!window_ || !window_->isVisible() || isAnimatingOut_ || isAdjustingHeight_ || isPlacing_) return;
    if (throttle_.changed(monotonicNow())) {
        trailingSave_.stop();
        saveFrame();
        return;
    }
    if (!trailingSave_.isActive())
        trailingSave_.start(std::max(1, int(std::ceil((throttle_.dueAt() - monotonicNow()) * 1000))));
}

void FloatingStatusWindowController::saveFrame() {
    if (!window_ || !window_->isVisible() || isAnimatingOut_ || isAdjustingHeight_ || !defaults_) return;
    defaults_->set(frameKey, DefaultsValue(FloatingWindowGeometry::frameString(toRect(window_->geometry()))));
    ++framesSaved_;
}

} // namespace brindleaf
