#include "windows/GeneralSettingsPane.hpp"

#include "presentation/StatusIconFactory.hpp"
#include "services/GlobalHotkeyMonitor.hpp"
#include "windows/FormSection.hpp"
#include "windows/GeneralPaneContent.hpp"
#include "windows/MenuBarIconPreview.hpp"
#include "windows/ShortcutRecorderView.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace brindleaf {

namespace {

QString qstr(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

template <typename Choices>
QComboBox* makePicker(const Choices& choices, const char* name) {
    auto* picker = new QComboBox;
    picker->setObjectName(name);
    for (const auto& [label, value] : choices) picker->addItem(qstr(label), static_cast<int>(value));
    return picker;
}

template <typename Value>
void select(QComboBox* picker, Value value) {
    const QSignalBlocker block(picker);
    picker->setCurrentIndex(picker->findData(static_cast<int>(value)));
}

} // namespace

GeneralSettingsPane::GeneralSettingsPane(std::shared_ptr<ProviderSettingsStore> settings,
                                         std::shared_ptr<LaunchAtLoginController> launchAtLogin, QWidget* parent)
    : QWidget(parent), settings_(std::move(settings)), launchAtLogin_(std::move(launchAtLogin)) {
    using namespace GeneralPaneContent;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto* login = new FormSection;
    openAtLogin_ = new QCheckBox(qstr(openAtLoginTitle));
    openAtLogin_->setObjectName("openAtLogin");
    login->addWidget(openAtLogin_);
    // The approval row is left out: an autostart entry takes effect without the user's approval.
    loginError_ = makeLabel({}, TextStyle::body, ThemeColor::rgb(1, 0.23, 0.19), true);
    loginError_->setObjectName("loginError");
    loginError_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    login->addWidget(loginError_);
    layout->addWidget(login);

    auto* trayIcon = new FormSection(qstr(trayIconHeader));
    style_ = makePicker(styleChoices, "iconStyle");
    color_ = makePicker(renderingModeChoices, "iconColor");
    size_ = makePicker(sizeChoices, "iconSize");
    trayIcon->addRow(qstr(iconPickerTitle), style_);
    trayIcon->addRow(qstr(colorPickerTitle), color_);
    trayIcon->addRow(qstr(sizePickerTitle), size_);
    preview_ = new MenuBarIconPreview;
    preview_->setObjectName("iconPreview");
    trayIcon->addRow(qstr(previewTitle), preview_);
    layout->addWidget(trayIcon);

    auto* shortcuts = new FormSection(qstr(shortcutsHeader), qstr(shortcutsFooter));
    ProviderSettingsStore* store = settings_.get();
    panelShortcut_ = new ShortcutRecorderView(std::make_unique<ShortcutRecorderModel>(
        store->toggleShortcut(), ProviderSettingsStore::defaultToggleShortcut,
        [store](const HotkeyShortcut& s) { return store->updateToggleShortcut(s); },
        [store] { resetPanelShortcut(*store); }, GlobalHotkeyMonitor::toggleHotkeyID));
    panelShortcut_->setObjectName("panelShortcut");
    windowShortcut_ = new ShortcutRecorderView(std::make_unique<ShortcutRecorderModel>(
        store->windowShortcut(), ProviderSettingsStore::defaultWindowShortcut,
        [store](const HotkeyShortcut& s) { return store->updateWindowShortcut(s); },
        [store] { resetWindowShortcut(*store); }, GlobalHotkeyMonitor::windowHotkeyID));
    windowShortcut_->setObjectName("windowShortcut");
    shortcuts->addRow(qstr(panelShortcutTitle), panelShortcut_);
    shortcuts->addRow(qstr(windowShortcutTitle), windowShortcut_);
    layout->addWidget(shortcuts);

    auto* notifications = new FormSection(qstr(notificationsHeader));
    notifyWhenWaiting_ = new QCheckBox(qstr(notifyWhenWaitingTitle));
    notifyWhenWaiting_->setObjectName("notifyWhenWaiting");
    notifyWhenFinished_ = new QCheckBox(qstr(notifyWhenFinishedTitle));
    notifyWhenFinished_->setObjectName("notifyWhenFinished");
    notificationSound_ = new QCheckBox(qstr(notificationSoundTitle));
    notificationSound_->setObjectName("notificationSound");
    notifications->addWidget(notifyWhenWaiting_);
    notifications->addWidget(notifyWhenFinished_);
    notifications->addWidget(notificationSound_);
    layout->addWidget(notifications);
    layout->addStretch(1);

    // The controller tells only of a change: a refused change that leaves its
    // state as it was is not told, so the box is set from it after each attempt.
    connect(openAtLogin_, &QCheckBox::toggled, this, [this](bool on) {
        launchAtLogin_->setEnabled(on);
        showLoginState();
    });
    connect(notifyWhenWaiting_, &QCheckBox::toggled, this, [this](bool on) { settings_->setNotifiesWhenWaiting(on); });
    connect(notifyWhenFinished_, &QCheckBox::toggled, this,
            [this](bool on) { settings_->setNotifiesWhenFinished(on); });
    connect(notificationSound_, &QCheckBox::toggled, this,
            [this](bool on) { settings_->setPlaysNotificationSound(on); });
    connect(style_, &QComboBox::activated, this,
            [this] { settings_->setIconStyle(static_cast<StatusIconStyle>(style_->currentData().toInt())); });
    connect(color_, &QComboBox::activated, this, [this] {
        settings_->setIconRenderingMode(static_cast<StatusIconRenderingMode>(color_->currentData().toInt()));
    });
    connect(size_, &QComboBox::activated, this,
            [this] { settings_->setIconSizeOption(static_cast<StatusIconSizeOption>(size_->currentData().toInt())); });

    // The store announces before it stores: redraw on the next turn.
    QPointer<GeneralSettingsPane> self(this);
    settingsObserver_ = settings_->addObserver([self](ProviderSettingsStore::Property) {
        QTimer::singleShot(0, self, [self] {
            if (self) self->refresh();
        });
    });
    loginObserver_ = launchAtLogin_->addObserver([this] { refresh(); });
    refresh();
}

GeneralSettingsPane::~GeneralSettingsPane() {
    settings_->removeObserver(settingsObserver_);
    launchAtLogin_->removeObserver(loginObserver_);
}

void GeneralSettingsPane::showLoginState() {
    {
        const QSignalBlocker block(openAtLogin_);
        openAtLogin_->setChecked(
            GeneralPaneContent::isOpenAtLoginOn(launchAtLogin_->isEnabled(), launchAtLogin_->requiresApproval()));
    }
    const auto& error = launchAtLogin_->lastErrorMessage();
    loginError_->setText(error ? QString::fromStdString(*error) : QString());
    loginError_->setVisible(error.has_value());
}

void GeneralSettingsPane::refresh() {
    showLoginState();
    select(style_, settings_->iconStyle());
    select(color_, settings_->iconRenderingMode());
    select(size_, settings_->iconSizeOption());
    preview_->setIcons(StatusIconFactory::iconSet(settings_->iconStyle(), settings_->iconRenderingMode(),
                                                  settings_->iconSizeOption()));

    for (auto [box, on] : {std::pair{notifyWhenWaiting_, settings_->notifiesWhenWaiting()},
                           std::pair{notifyWhenFinished_, settings_->notifiesWhenFinished()},
                           std::pair{notificationSound_, settings_->playsNotificationSound()}}) {
        const QSignalBlocker block(box);
        box->setChecked(on);
    }
    panelShortcut_->model().setShortcut(settings_->toggleShortcut());
    windowShortcut_->model().setShortcut(settings_->windowShortcut());
}

} // namespace brindleaf
