#pragma once

#include "presentation/FloatingStatusContentView.hpp"
#include "windows/FloatingStatusWindow.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

namespace brindleaf::testing {

// What a window shows on its screen once its pending paints are done: the
// backing store as painted, scrolled parts included (grab() would paint it
// all afresh).
inline QImage onScreen(QWidget& window) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_ARGB32);
}

// What the window shows once two looks in a row, with the queue settled in
// between, agree (a busy X server shows a repaint late), or the last look
// after 50 of them.
inline QImage settledOnScreen(QWidget& window, const std::function<void()>& settle) {
    QImage last = onScreen(window);
    for (int look = 0; look < 50; ++look) {
        settle();
        QImage now = onScreen(window);
        if (now == last) break;
        last = std::move(now);
    }
    return last;
}

// The number of pixels in which two images differ by more than a rounding step.
inline int differingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return a.width() * a.height();
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > 2 || std::abs(qGreen(p) - qGreen(q)) > 2 ||
                std::abs(qBlue(p) - qBlue(q)) > 2 || std::abs(qAlpha(p) - qAlpha(q)) > 2)
                ++differing;
        }
    return differing;
}

// Opens the floating window over the model's sessions (more than fill it),
// scrolls its list down in 12 steps of 37 pixels and after each compares what
// the window shows with a second window scrolled there and painted once,
// whole. `settle` runs the model's queue and Qt's events.
inline ::testing::AssertionResult scrollsWhole(StatusDashboardModel& model, bool translucent,
                                               const std::function<void()>& settle) {
    const auto open = [&](QScrollBar*& bar) {
        auto* content = new FloatingStatusContentView(model, {}, {});
        content->setScreenshotMode(true);
        auto window = std::make_unique<FloatingStatusWindow>(content, translucent);
        window->setGeometry(100, 100, 600, 520);
        window->show();
        // Mapped, and painted once (an X server shows a window only then).
        QElapsedTimer bound;
        bound.start();
        while (!window->windowHandle()->isExposed() && bound.elapsed() < 30'000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        settle();
        bar = content->findChild<QScrollArea*>()->verticalScrollBar();
        return window;
    };
    QScrollBar* bar = nullptr;
    auto window = open(bar);
    constexpr int steps = 12, step = 37;
    if (bar->maximum() < steps * step)
        return ::testing::AssertionFailure() << "the list scrolls by " << bar->maximum() << " pixels only";
    for (int i = 1; i <= steps; ++i) {
        bar->setValue(i * step);
        const QImage scrolled = settledOnScreen(*window, settle);
        QScrollBar* freshBar = nullptr;
        auto fresh = open(freshBar);
        freshBar->setValue(i * step);
        fresh->repaint();
        if (const int differing = differingPixels(scrolled, settledOnScreen(*fresh, settle)))
            return ::testing::AssertionFailure() << differing << " pixels differ from a fresh window's, scrolled to "
                                                 << bar->value() << (translucent ? " (translucent)" : " (masked)");
    }
    return ::testing::AssertionSuccess();
}

} // namespace brindleaf::testing
