#include "windows/WelcomeWindowController.hpp"

#include "presentation/PlatformStyle.hpp"
#include "presentation/Symbols.hpp"
#include "presentation/WindowFocus.hpp"
#include "services/FolderAccessController.hpp"
#include "services/LaunchAtLoginController.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "windows/BringToFront.hpp"
#include "windows/FolderAccessLine.hpp"
#include "windows/FormSection.hpp"
#include "windows/GeneralPaneContent.hpp"
#include "windows/WelcomeContent.hpp"

#include <QCheckBox>
#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace brindleaf {

namespace {
QString qstr(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
} // namespace

WelcomeWindowController::WelcomeWindowController(std::shared_ptr<FolderAccessController> folderAccess,
                                                 std::shared_ptr<LaunchAtLoginController> launchAtLogin,
                                                 std::shared_ptr<ProviderSettingsStore> settings,
                                                 std::function<void()> onFinish, QObject* parent)
    : QObject(parent),
      folderAccess_(std::move(folderAccess)),
      launchAtLogin_(std::move(launchAtLogin)),
      settings_(std::move(settings)),
      onFinish_(std::move(onFinish)) {}

WelcomeWindowController::~WelcomeWindowController() {
    if (window_) {
        folderAccess_->removeObserver(folderObserver_);
        launchAtLogin_->removeObserver(loginObserver_);
        // No finish for a window that goes with its controller.
        QObject::disconnect(window_.get(), nullptr, this, nullptr);
    }
}

void WelcomeWindowController::show() {
    if (!window_) makeWindow();
    refresh();
    bringToFront(window_.get());
    clearInitialFocus(window_.get());
}

void WelcomeWindowController::showSampleData() {
    settings_->setShowingSampleData(true);
    done();
}

void WelcomeWindowController::done() {
    if (window_) window_->accept();
}

void WelcomeWindowController::makeWindow() {
    using namespace WelcomeContent;
    const ThemeColor secondary = ThemeColor::system(ThemeColor::Role::secondaryLabel);
    window_ = std::make_unique<QDialog>(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                     Qt::WindowCloseButtonHint);
    QDialog* window = window_.get();
    window->setObjectName("welcomeWindow");
    window->setModal(false);
    window->setWindowTitle(qstr(windowTitle));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), window, window, &QWidget::close);

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(18);

    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    auto* icon = new QLabel;
    icon->setPixmap(QIcon(":/icons/brindleaf.svg").pixmap(QSize(64, 64), window->devicePixelRatioF()));
    icon->setFixedSize(64, 64);
    header->addWidget(icon, 0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    QLabel* title = makeLabel(qstr(windowTitle), TextStyle::title);
    title->setFont(PlatformStyle::font(TextStyle::title, QFont::DemiBold));
    titles->addWidget(title);
    titles->addWidget(makeLabel(qstr(tagline), TextStyle::body, secondary, true));
    header->addLayout(titles, 1);
    layout->addLayout(header);

    if (folderAccess_->isSandboxed()) {
        auto* access = new QVBoxLayout;
        access->setSpacing(8);
        access->addWidget(makeLabel(qstr(accessHeader), TextStyle::headline));
        access->addWidget(makeLabel(qstr(accessText), TextStyle::callout, secondary, true));
        auto* box = new QFrame;
        box->setObjectName("folderAccess");
        box->setStyleSheet("#folderAccess { background: rgba(128, 128, 128, 20); border-radius: 10px; }");
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(12, 12, 12, 12);
        boxLayout->setSpacing(8);
        for (const AgentRow& row : agentRows()) {
            auto* block = new QVBoxLayout;
            block->setSpacing(4);
            QLabel* name = makeLabel(qstr(row.name));
            name->setFont(PlatformStyle::font(TextStyle::body, QFont::Medium));
            block->addWidget(name);
            for (FolderAccessController::Folder folder : row.folders) {
                auto* line = new FolderAccessLine(folder, folderAccess_);
                line->setObjectName(qstr("folder-" + std::string(FolderAccessController::rawValue(folder))));
                block->addWidget(line);
                lines_.push_back(line);
            }
            boxLayout->addLayout(block);
        }
        access->addWidget(box);
        layout->addLayout(access);
    }

    auto* options = new QVBoxLayout;
    options->setSpacing(8);
    openAtLogin_ = new QCheckBox(qstr(openAtLoginTitle));
    openAtLogin_->setObjectName("openAtLogin");
    // A refused change that leaves the state as it was is not told: the switch
    // shows the controller's state after each attempt.
    connect(openAtLogin_, &QCheckBox::toggled, this, [this](bool on) {
        launchAtLogin_->setEnabled(on);
        refresh();
    });
    options->addWidget(openAtLogin_);
    auto* syncRow = new QHBoxLayout;
    auto* cloud = new QLabel;
    cloud->setPixmap(Symbols::pixmap("icloud", QSizeF(14, 14), PlatformStyle::color(secondary, window->palette()),
                                     window->devicePixelRatioF()));
    syncRow->addWidget(cloud, 0, Qt::AlignTop);
    syncRow->addWidget(makeLabel(qstr(syncNote), TextStyle::callout, secondary, true), 1);
    options->addLayout(syncRow);
    layout->addLayout(options);

    auto* buttons = new QHBoxLayout;
    auto* sample = new QPushButton(qstr(sampleDataTitle));
    sample->setObjectName("showSampleData");
    sample->setAutoDefault(false);
    auto* doneButton = new QPushButton(qstr(doneTitle));
    doneButton->setObjectName("done");
    doneButton->setDefault(true);
    buttons->addWidget(sample);
    buttons->addStretch(1);
    buttons->addWidget(doneButton);
    layout->addLayout(buttons);
    connect(sample, &QPushButton::clicked, this, &WelcomeWindowController::showSampleData);
    connect(doneButton, &QPushButton::clicked, this, &WelcomeWindowController::done);

    // 480 wide with the padding inside; as tall as the content, and fixed.
    window->setFixedWidth(480);

    // Every close ends in QDialog::finished (the close button rejects, Escape
    // rejects, the buttons accept); the onboarding ends on a later turn.
    connect(window, &QDialog::finished, this, [this] { QTimer::singleShot(0, this, [this] { finish(); }); });
    folderObserver_ = folderAccess_->addObserver([this] { refresh(); });
    loginObserver_ = launchAtLogin_->addObserver([this] { refresh(); });

    window->adjustSize();
    window->setFixedHeight(window->height());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        window->move(screen->availableGeometry().center() - window->rect().center());
    }
}

void WelcomeWindowController::refresh() {
    if (!window_) return;
    {
        const QSignalBlocker block(openAtLogin_);
        openAtLogin_->setChecked(
            GeneralPaneContent::isOpenAtLoginOn(launchAtLogin_->isEnabled(), launchAtLogin_->requiresApproval()));
    }
    for (FolderAccessLine* line : lines_) line->refresh();
}

void WelcomeWindowController::finish() {
    settings_->defaults()->set(std::string(WelcomeContent::shownKey), true);
    if (onFinish_) onFinish_();
}

} // namespace brindleaf
