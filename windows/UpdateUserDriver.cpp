#include "windows/UpdateUserDriver.hpp"

#include "presentation/UpdatePrompt.hpp"
#include "windows/PlainMessageBox.hpp"

#include <QApplication>

namespace brindleaf {

UpdateUserDriver::UpdateUserDriver(std::string runningVersion, UpdateWindow::URLOpener openURL, QObject* parent)
    : QObject(parent), runningVersion_(std::move(runningVersion)), openURL_(std::move(openURL)) {}

UpdateUserDriver::~UpdateUserDriver() { delete window_.data(); }

bool UpdateUserDriver::applicationIsInFocus() const { return QApplication::activeWindow() != nullptr; }

void UpdateUserDriver::showUpdateFound(const AppcastItem& item, bool, std::function<void(Choice)> reply) {
    if (!window_) {
        window_ = new UpdateWindow(openURL_);
        connect(window_, &UpdateWindow::chosen, this, [this](Choice choice) {
            // Answer once: the reply is taken before it runs.
            auto reply = std::move(reply_);
            reply_ = nullptr;
            if (reply) reply(choice);
        });
    }
    reply_ = std::move(reply);
    window_->setPrompt(UpdatePrompt::make(item, runningVersion_));
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void UpdateUserDriver::dismissUpdate() {
    reply_ = nullptr;
    if (window_) window_->dismiss();
}

void UpdateUserDriver::showUpdateNotFound(const std::string& runningVersion) {
    showMessage(UpdatePrompt::upToDateTitle, UpdatePrompt::upToDateMessage(runningVersion));
}

void UpdateUserDriver::showUpdaterError(const std::string& message) {
    showMessage(UpdatePrompt::checkFailedTitle, UpdatePrompt::checkFailedMessage(message));
}

void UpdateUserDriver::showMessage(const std::string& title, const std::string& text) {
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(title), QString::fromStdString(title),
                                QMessageBox::Ok);
    box->setObjectName("updateMessage");
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(QString::fromStdString(text));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace brindleaf
