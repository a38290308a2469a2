#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QDialog;

namespace brindleaf {

class FolderAccessController;
class FolderAccessLine;
class LaunchAtLoginController;
class ProviderSettingsStore;

// The first-run welcome window: what Brindleaf does, the folder grants while
// confined, open at login, and "Show Sample Data" or "Done". A non-modal
// dialog of a fixed size without a minimize button, built on the first show
// and kept; Done is its default button.
// Every close (the close button, Escape, Ctrl+W, either button) ends the onboarding
// on a later turn of the event loop: "welcomeShown.v1" is stored true in the
// settings' defaults suite and onFinish runs, once per close. Closing never
// quits the application.
//
// Object names, for tests: the window "welcomeWindow", "showSampleData",
// "done", "openAtLogin", the folder box "folderAccess", each folder line
// "folder-<raw value>".
//
// Main thread only.
class WelcomeWindowController final : public QObject {
    Q_OBJECT

public:
    WelcomeWindowController(std::shared_ptr<FolderAccessController> folderAccess,
                            std::shared_ptr<LaunchAtLoginController> launchAtLogin,
                            std::shared_ptr<ProviderSettingsStore> settings, std::function<void()> onFinish,
                            QObject* parent = nullptr);
    ~WelcomeWindowController() override;

    // Shows the window (built on first use), restored when it is minimized,
    // raised, with no control focused.
    void show();
    // Absent until the first show.
    QDialog* window() const { return window_.get(); }

    // The view's actions: sample data on, then close; close.
    void showSampleData();
    void done();

private:
    void makeWindow();
    void refresh();
    void finish();

    std::shared_ptr<FolderAccessController> folderAccess_;
    std::shared_ptr<LaunchAtLoginController> launchAtLogin_;
    std::shared_ptr<ProviderSettingsStore> settings_;
    std::function<void()> onFinish_;
    std::unique_ptr<QDialog> window_;
    QCheckBox* openAtLogin_ = nullptr;
    std::vector<FolderAccessLine*> lines_;
    std::uint64_t folderObserver_ = 0;
    std::uint64_t loginObserver_ = 0;
};

} // namespace brindleaf
