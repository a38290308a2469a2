#include "windows/UpdateWindow.hpp"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace brindleaf {

namespace {

QLabel* plainLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

UpdateWindow::UpdateWindow(URLOpener openURL, QWidget* parent)
    : QWidget(parent, Qt::Window), openURL_(std::move(openURL)) {
    if (!openURL_) openURL_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    setWindowTitle(QString::fromUtf8(UpdatePrompt::windowTitle));
    setObjectName("updateWindow");

    headline_ = plainLabel(this);
    headline_->setObjectName("updateHeadline");
    QFont bold = headline_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    headline_->setFont(bold);
    versionLine_ = plainLabel(this);
    versionLine_->setObjectName("updateVersionLine");

    auto* notesTitle = plainLabel(this);
    notesTitle->setText(QString::fromUtf8(UpdatePrompt::releaseNotesTitle));
    QFont notesFont = notesTitle->font();
    notesFont.setBold(true);
    notesTitle->setFont(notesFont);

    notes_ = new QPlainTextEdit(this);
    notes_->setObjectName("updateReleaseNotes");
    notes_->setReadOnly(true);
    notes_->setMinimumHeight(160);

    skip_ = new QPushButton(QString::fromUtf8(UpdatePrompt::skipTitle), this);
    skip_->setObjectName("updateSkip");
    remindLater_ = new QPushButton(QString::fromUtf8(UpdatePrompt::remindLaterTitle), this);
    remindLater_->setObjectName("updateRemindLater");
    download_ = new QPushButton(QString::fromUtf8(UpdatePrompt::downloadTitle), this);
    download_->setObjectName("updateDownload");
    download_->setDefault(true);
    download_->setAutoDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(skip_);
    buttons->addStretch(1);
    buttons->addWidget(remindLater_);
    buttons->addWidget(download_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(10);
    layout->addWidget(headline_);
    layout->addWidget(versionLine_);
    layout->addSpacing(4);
    layout->addWidget(notesTitle);
    layout->addWidget(notes_, 1);
    layout->addLayout(buttons);
    resize(520, 380);

    connect(skip_, &QPushButton::clicked, this, [this] { choose(AppcastUserDriver::Choice::skip); });
    connect(remindLater_, &QPushButton::clicked, this, [this] { choose(AppcastUserDriver::Choice::remindLater); });
    connect(download_, &QPushButton::clicked, this, [this] {
        if (!prompt_.downloadAddress) return;
        // Only https pages are ever opened (the prompt holds no other).
        const QUrl url(QString::fromStdString(*prompt_.downloadAddress), QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != "https") return;
        openURL_(url);
        choose(AppcastUserDriver::Choice::download);
    });
}

void UpdateWindow::setPrompt(const UpdatePrompt& prompt) {
    prompt_ = prompt;
    headline_->setText(QString::fromStdString(prompt.headline));
    versionLine_->setText(QString::fromStdString(prompt.versionLine));
    notes_->setPlainText(QString::fromStdString(prompt.releaseNotes));
    download_->setEnabled(prompt.downloadAddress.has_value());
}

void UpdateWindow::dismiss() {
    dismissing_ = true;
    close();
    dismissing_ = false;
}

void UpdateWindow::choose(AppcastUserDriver::Choice choice) {
    dismissing_ = true;
    close();
    dismissing_ = false;
    emit chosen(choice);
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
    // Closed by the user through the window manager: remind later.
    if (!dismissing_) emit chosen(AppcastUserDriver::Choice::remindLater);
    event->accept();
}

} // namespace brindleaf
