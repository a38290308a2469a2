#pragma once

#include "platform/AppcastUserDriver.hpp"
#include "presentation/UpdatePrompt.hpp"

#include <QUrl>
#include <QWidget>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace brindleaf {

// The window that offers a new release: its version, the release notes as
// plain text, and "Download" (opens the https download page in the browser),
// "Remind Me Later" and "Skip This Version". It never installs anything.
// Closing it counts as "Remind Me Later".
class UpdateWindow final : public QWidget {
    Q_OBJECT

public:
    // Opens a page in the browser; QDesktopServices::openUrl when empty.
    using URLOpener = std::function<bool(const QUrl&)>;

    explicit UpdateWindow(URLOpener openURL = {}, QWidget* parent = nullptr);

    void setPrompt(const UpdatePrompt& prompt);
    const UpdatePrompt& prompt() const { return prompt_; }

    // Closes the window without a choice.
    void dismiss();

signals:
    void chosen(brindleaf::AppcastUserDriver::Choice choice);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void choose(AppcastUserDriver::Choice choice);

    URLOpener openURL_;
    UpdatePrompt prompt_;
    bool dismissing_ = false;
    QLabel* headline_;
    QLabel* versionLine_;
    QPlainTextEdit* notes_;
    QPushButton* download_;
    QPushButton* remindLater_;
    QPushButton* skip_;
};

} // namespace brindleaf
