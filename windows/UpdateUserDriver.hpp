#pragma once

#include "platform/AppcastUserDriver.hpp"
#include "windows/UpdateWindow.hpp"

#include <QObject>
#include <QPointer>

#include <string>

namespace brindleaf {

// Shows what the appcast updater has to say: the update window for a found
// release (created on first use and reused), and a short message when a check
// the user asked for found nothing new or failed.
class UpdateUserDriver final : public QObject, public AppcastUserDriver {
    Q_OBJECT

public:
    explicit UpdateUserDriver(std::string runningVersion, UpdateWindow::URLOpener openURL = {},
                              QObject* parent = nullptr);
    ~UpdateUserDriver() override;

    bool applicationIsInFocus() const override;
    void showUpdateFound(const AppcastItem& item, bool userInitiated, std::function<void(Choice)> reply) override;
    void showUpdateNotFound(const std::string& runningVersion) override;
    void showUpdaterError(const std::string& message) override;
    void dismissUpdate() override;

    // The update window while it exists.
    UpdateWindow* window() const { return window_; }

private:
    void showMessage(const std::string& title, const std::string& text);

    std::string runningVersion_;
    UpdateWindow::URLOpener openURL_;
    QPointer<UpdateWindow> window_;
    std::function<void(Choice)> reply_;
};

} // namespace brindleaf
