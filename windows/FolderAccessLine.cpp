#include "windows/FolderAccessLine.hpp"

#include "presentation/PlatformStyle.hpp"
#include "presentation/Symbols.hpp"
#include "windows/AgentsPaneContent.hpp"
#include "windows/FormSection.hpp"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace brindleaf {

namespace {
QString qstr(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
} // namespace

FolderAccessLine::FolderAccessLine(FolderAccessController::Folder folder,
                                   std::shared_ptr<FolderAccessController> folderAccess, QWidget* parent)
    : QWidget(parent), folder_(folder), folderAccess_(std::move(folderAccess)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    QLabel* path = makeLabel(QString::fromStdString(AgentsPaneContent::displayPath(folder)), TextStyle::caption,
                             ThemeColor::system(ThemeColor::Role::secondaryLabel));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(static_cast<int>(textStyleSize(TextStyle::caption)));
    path->setFont(mono);
    path->setObjectName("folderPath");
    row->addWidget(path);
    if (auto note = AgentsPaneContent::note(folder)) {
        row->addWidget(makeLabel(qstr(*note), TextStyle::caption, ThemeColor::system(ThemeColor::Role::tertiaryLabel)));
    }
    row->addStretch(1);

    const ThemeColor green = ThemeColor::system(ThemeColor::Role::green);
    allowed_ = new QWidget(this);
    allowed_->setObjectName("allowed");
    auto* allowedRow = new QHBoxLayout(allowed_);
    allowedRow->setContentsMargins(0, 0, 0, 0);
    allowedRow->setSpacing(3);
    auto* check = new QLabel(allowed_);
    check->setPixmap(Symbols::pixmap("checkmark.circle.fill", QSizeF(11, 11), PlatformStyle::color(green, palette()),
                                     devicePixelRatioF()));
    allowedRow->addWidget(check);
    allowedRow->addWidget(makeLabel(qstr(AgentsPaneContent::allowedText), TextStyle::caption, green));
    row->addWidget(allowed_);

    allowAccess_ = new QPushButton(qstr(AgentsPaneContent::allowAccessTitle), this);
    allowAccess_->setObjectName("allowAccess");
    allowAccess_->setFont(PlatformStyle::font(TextStyle::caption));
    row->addWidget(allowAccess_);
    connect(allowAccess_, &QPushButton::clicked, this, [this] {
        folderAccess_->requestAccess(folder_);
        refresh();
    });

    notInstalled_ = makeLabel(qstr(AgentsPaneContent::notInstalledText), TextStyle::caption,
                              ThemeColor::system(ThemeColor::Role::tertiaryLabel), false, this);
    notInstalled_->setObjectName("notInstalled");
    row->addWidget(notInstalled_);
    refresh();
}

void FolderAccessLine::refresh() {
    using State = AgentsPaneContent::FolderLineState;
    const State state = AgentsPaneContent::folderLineState(*folderAccess_, folder_);
    allowed_->setVisible(state == State::allowed);
    allowAccess_->setVisible(state == State::allowAccess);
    notInstalled_->setVisible(state == State::notInstalled);
}

} // namespace brindleaf
