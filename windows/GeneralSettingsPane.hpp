#pragma once

#include "services/LaunchAtLoginController.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace brindleaf {

class MenuBarIconPreview;
class ShortcutRecorderView;

// The General tab: open at login, the tray icon's look with its live preview,
// and the two global shortcuts. Holds no state: every control reads and writes
// the settings store or the login-item controller and follows their changes.
//
// Object names, for tests: "openAtLogin", "loginError",
// "iconStyle", "iconColor", "iconSize", "iconPreview", "panelShortcut",
// "windowShortcut".
class GeneralSettingsPane final : public QWidget {
    Q_OBJECT

public:
    GeneralSettingsPane(std::shared_ptr<ProviderSettingsStore> settings,
                        std::shared_ptr<LaunchAtLoginController> launchAtLogin, QWidget* parent = nullptr);
    ~GeneralSettingsPane() override;

    // Reads every shown value again.
    void refresh();

private:
    // The login switch and its message as the login-item controller has them.
    void showLoginState();

    std::shared_ptr<ProviderSettingsStore> settings_;
    std::shared_ptr<LaunchAtLoginController> launchAtLogin_;
    ProviderSettingsStore::ObserverID settingsObserver_ = 0;
    LaunchAtLoginController::ObserverID loginObserver_ = 0;

    QCheckBox* openAtLogin_;
    QCheckBox* notifyWhenWaiting_;
    QCheckBox* notifyWhenFinished_;
    QCheckBox* notificationSound_;
    QLabel* loginError_;
    QComboBox* style_;
    QComboBox* color_;
    QComboBox* size_;
    MenuBarIconPreview* preview_;
    ShortcutRecorderView* panelShortcut_;
    ShortcutRecorderView* windowShortcut_;
};

} // namespace brindleaf
