#include "app/shell/TrayShell.hpp"

#include "app/PopoverPlacement.hpp"
#include "platform/X11KeyGrabber.hpp"
#include "presentation/StatusItemRenderer.hpp"
#include "services/GlobalHotkeyMonitor.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <QApplication>
#include <QCursor>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace brindleaf {

TrayShell::TrayShell(MainQueue& mainQueue, ProviderSettingsStore& settings, QObject* parent)
    : QObject(parent), mainQueue_(mainQueue), settings_(settings), statusItem_(mainQueue) {
    statusItem_.reloadIcons(settings_.iconStyle(), settings_.iconRenderingMode(), settings_.iconSizeOption());
    connect(&statusItem_, &TrayStatusItem::clicked, this, [this](QPoint cursor) {
        lastClick_ = cursor;
        togglePopover(true);
    });

    // The global hot keys are X key grabs: only on X.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        keyGrabber_ = std::make_shared<X11KeyGrabber>(mainQueue_);
        GlobalHotkeyMonitor::setKeyGrabber(keyGrabber_);
    }
    popoverHotkey_ = std::make_unique<GlobalHotkeyMonitor>(GlobalHotkeyMonitor::toggleHotkeyID, [this] {
        lastClick_ = QCursor::pos();
        togglePopover(false);
    });
    popoverHotkey_->registerShortcut(settings_.toggleShortcut());
}

TrayShell::~TrayShell() {
    popoverHotkey_.reset();
    if (keyGrabber_) GlobalHotkeyMonitor::setKeyGrabber(nullptr);
    delete popover_;
}

void TrayShell::render(const AgentStatusSnapshot& snapshot) {
    snapshot_ = snapshot;
    statusItem_.render(snapshot);
    if (isPopoverShown()) updatePopoverContent();
}

void TrayShell::togglePopover(bool byIconClick) {
    switch (popoverToggle_.toggle(isPopoverShown(), mainQueue_.now(), byIconClick)) {
    case PopoverToggle::Action::open:
        showPopover();
        break;
    case PopoverToggle::Action::close:
        popover_->dismiss();
        break;
    case PopoverToggle::Action::none:
        break;
    }
}

void TrayShell::showPopover() {
    if (isPopoverShown()) return;
    if (!popover_) {
        popover_ = new PopoverWindow();
        connect(popover_, &PopoverWindow::closedItself, this,
                [this] { popoverToggle_.closedItself(mainQueue_.now()); });
        // Until the dashboard view is in: the summary and the quit button.
        auto* content = new QWidget();
        auto* layout = new QVBoxLayout(content);
        summary_ = new QLabel(content);
        summary_->setTextFormat(Qt::PlainText);
        layout->addWidget(summary_);
        auto* quit = new QPushButton(QStringLiteral("Quit Brindleaf"), content);
        quit->setObjectName(QStringLiteral("quitButton"));
        connect(quit, &QPushButton::clicked, qApp, &QApplication::quit);
        layout->addWidget(quit);
        content->setMinimumWidth(320);
        popover_->setContent(content);
    }
    updatePopoverContent();
    popover_->adjustSize();

    const QRect icon = statusItem_.geometry();
    std::optional<PopoverPlacement::Rect> iconRect;
    if (!icon.isEmpty()) iconRect = PopoverPlacement::Rect{icon.x(), icon.y(), icon.width(), icon.height()};
    const QPoint anchorPoint = icon.isEmpty() ? lastClick_ : icon.center();
    QScreen* screen = QGuiApplication::screenAt(anchorPoint);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const auto origin =
        PopoverPlacement::origin(iconRect, {lastClick_.x(), lastClick_.y()}, popover_->width(), popover_->height(),
                                 {available.x(), available.y(), available.width(), available.height()});
    popover_->openAt(QPoint(origin.x, origin.y));
}

void TrayShell::updatePopoverContent() {
    if (!summary_) return;
    const auto running = static_cast<std::int64_t>(snapshot_.runningSessions().size());
    const auto waiting = static_cast<std::int64_t>(snapshot_.waitingSessions().size());
    summary_->setText(QString::fromStdString(StatusItemRenderer::summary(running, waiting)));
}

} // namespace brindleaf
