#include "windows/SettingsWindowController.hpp"

#include "presentation/PlatformStyle.hpp"
#include "presentation/Symbols.hpp"
#include "presentation/WindowFocus.hpp"
#include "services/BuildInfo.hpp"
#include "services/LaunchAtLoginController.hpp"
#include "services/SoftwareUpdater.hpp"
#include "windows/AboutSettingsPane.hpp"
#include "windows/AgentsSettingsPane.hpp"
#include "windows/BringToFront.hpp"
#include "windows/CloudSyncSettingsPane.hpp"
#include "windows/DiagnosticsSettingsPane.hpp"
#include "windows/GeneralSettingsPane.hpp"
#include "windows/SettingsWindowContent.hpp"
#include "windows/SoftwareUpdaterControls.hpp"

#include <QAction>
#include <QActionGroup>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QShortcut>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWidget>

namespace brindleaf {

namespace {

QString qstr(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

} // namespace

SettingsWindowController::SettingsWindowController(Collaborators collaborators, QObject* parent)
    : QObject(parent), collaborators_(std::move(collaborators)) {}

SettingsWindowController::~SettingsWindowController() = default;

void SettingsWindowController::show(std::optional<SettingsPane> pane) {
    if (!window_) makeWindow();
    if (pane) select(*pane);
    if (collaborators_.launchAtLogin) collaborators_.launchAtLogin->refresh();
    bringToFront(window_.get());
    clearInitialFocus(window_.get());
}

void SettingsWindowController::makeWindow() {
    window_ = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                     Qt::WindowCloseButtonHint);
    window_->setObjectName("settingsWindow");
    // Closing hides the window, which is kept for the next show.
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    window_->setAttribute(Qt::WA_QuitOnClose, false);
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), window_.get(), window_.get(), &QWidget::close);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The window takes the selected pane's size, and changes with the tab.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* toolBar = new QToolBar(window_.get());
    toolBar->setObjectName("settingsTabs");
    toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar->setIconSize(QSize(22, 22));
    toolBar->setMovable(false);
    tabs_ = new QActionGroup(toolBar);
    tabs_->setExclusive(true);
    layout->addWidget(toolBar, 0, Qt::AlignHCenter);

    const QColor tint = PlatformStyle::color(ThemeColor::system(ThemeColor::Role::primaryLabel), window_->palette());
    for (SettingsPane pane : allSettingsPanes) {
        const QString label = qstr(SettingsWindowContent::tabLabel(pane));
        QAction* action = toolBar->addAction(Symbols::icon(SettingsWindowContent::tabSymbol(pane), tint), label);
        action->setCheckable(true);
        action->setObjectName(qstr(toString(pane)));
        tabs_->addAction(action);
        connect(action, &QAction::triggered, this, [this, pane] {
            select(pane);
            clearInitialFocus(window_.get());
        });

        QWidget* content = makePane(pane);
        content->setObjectName(qstr(toString(pane)));
        content->setFixedWidth(SettingsWindowContent::paneWidth);
        content->setAccessibleName(label);
        content->setVisible(false);
        layout->addWidget(content);
    }
    select(SettingsPane::general);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        window_->adjustSize();
        window_->move(screen->availableGeometry().center() - window_->rect().center());
    }
}

QWidget* SettingsWindowController::makePane(SettingsPane pane) {
    switch (pane) {
    case SettingsPane::general:
        return new GeneralSettingsPane(collaborators_.settings, collaborators_.launchAtLogin);
    case SettingsPane::agents:
        return new AgentsSettingsPane(collaborators_.settings, collaborators_.folderAccess);
    case SettingsPane::iCloud:
        return new CloudSyncSettingsPane(collaborators_.settings, collaborators_.cloudSync,
                                         collaborators_.cloudSyncChanges);
    case SettingsPane::diagnostics:
        return new DiagnosticsSettingsPane(collaborators_.settings, collaborators_.dashboardModel);
    case SettingsPane::about: {
        AboutSettingsPane::Options options;
        options.updater = collaborators_.updater;
        if (!options.updater) {
            if (auto shared = SoftwareUpdater::shared())
                options.updater = std::make_shared<SoftwareUpdaterControls>(shared);
        }
        options.version = std::string(BuildInfo::version());
        options.productHost = std::string(BuildInfo::productHost());
        return new AboutSettingsPane(std::move(options));
    }
    }
    return new QWidget;
}

void SettingsWindowController::select(SettingsPane pane) {
    selected_ = pane;
    const QString name = qstr(toString(pane));
    for (QAction* action : tabs_->actions()) action->setChecked(action->objectName() == name);
    // Hide the others first, so the window never holds two panes at once.
    for (SettingsPane other : allSettingsPanes) {
        if (other == pane) continue;
        if (auto* widget = window_->findChild<QWidget*>(qstr(toString(other)), Qt::FindDirectChildrenOnly)) {
            widget->setVisible(false);
        }
    }
    if (auto* widget = window_->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly)) widget->setVisible(true);
    window_->setWindowTitle(qstr(SettingsWindowContent::tabLabel(pane)));
    window_->adjustSize();
}

} // namespace brindleaf
