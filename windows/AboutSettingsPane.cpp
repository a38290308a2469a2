#include "windows/AboutSettingsPane.hpp"

#include "presentation/PlatformStyle.hpp"
#include "windows/AboutPaneContent.hpp"
#include "windows/FormSection.hpp"

#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace brindleaf {

namespace {

QString qstr(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QPushButton* linkButton(const QString& title, const char* name) {
    auto* link = new QPushButton(title);
    link->setObjectName(name);
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setStyleSheet("QPushButton { color: palette(link); border: none; padding: 0; }");
    return link;
}

} // namespace

AboutSettingsPane::AboutSettingsPane(Options options, QWidget* parent) : QWidget(parent), options_(std::move(options)) {
    using namespace AboutPaneContent;
    const ThemeColor secondary = ThemeColor::system(ThemeColor::Role::secondaryLabel);
    const ThemeColor tertiary = ThemeColor::system(ThemeColor::Role::tertiaryLabel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 24, 0, 24);
    layout->setSpacing(10);
    layout->setAlignment(Qt::AlignHCenter);

    auto* icon = new QLabel;
    icon->setPixmap(QIcon(":/icons/brindleaf.svg").pixmap(QSize(88, 88), devicePixelRatioF()));
    icon->setFixedSize(88, 88);
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    QLabel* name = makeLabel(qstr(productName), TextStyle::title2);
    name->setFont(PlatformStyle::font(TextStyle::title2, QFont::DemiBold));
    layout->addWidget(name, 0, Qt::AlignHCenter);

    QLabel* version =
        makeLabel(QString::fromStdString(versionString(options_.version, options_.build)), TextStyle::body, secondary);
    version->setObjectName("version");
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(version, 0, Qt::AlignHCenter);

    if (options_.updater) {
        auto* updates = new QVBoxLayout;
        updates->setSpacing(6);
        auto* check = new QPushButton(qstr(checkForUpdatesTitle));
        check->setObjectName("checkForUpdates");
        connect(check, &QPushButton::clicked, this, [this] { options_.updater->checkForUpdates(); });
        updates->addWidget(check, 0, Qt::AlignHCenter);
        automaticChecks_ = new QCheckBox(qstr(automaticChecksTitle));
        automaticChecks_->setObjectName("automaticChecks");
        automaticChecks_->setFont(PlatformStyle::font(TextStyle::callout));
        connect(automaticChecks_, &QCheckBox::toggled, this,
                [this](bool on) { options_.updater->setAutomaticallyChecksForUpdates(on); });
        updates->addWidget(automaticChecks_, 0, Qt::AlignHCenter);
        layout->addLayout(updates);
        // The updater tells before it stores: read the switch on the next turn.
        QPointer<AboutSettingsPane> self(this);
        updaterObserver_ = options_.updater->addObserver([self] {
            QTimer::singleShot(0, self, [self] {
                if (self) self->refresh();
            });
        });
    }

    QLabel* taglineLabel = makeLabel(qstr(tagline), TextStyle::body, secondary, true);
    taglineLabel->setAlignment(Qt::AlignHCenter);
    taglineLabel->setContentsMargins(24, 0, 24, 0);
    layout->addWidget(taglineLabel);

    auto* links = new QHBoxLayout;
    links->setSpacing(16);
    links->setContentsMargins(0, 4, 0, 0);
    links->addStretch(1);
    if (auto url = privacyPolicyURL(options_.productHost)) {
        QPushButton* link = linkButton(qstr(privacyPolicyTitle), "privacyPolicy");
        connect(link, &QPushButton::clicked, this, [this, url = *url] { open(url); });
        links->addWidget(link);
    }
    if (auto url = productURL(options_.productHost)) {
        QPushButton* link = linkButton(qstr(supportTitle), "support");
        connect(link, &QPushButton::clicked, this, [this, url = *url] { open(url); });
        links->addWidget(link);
    }
    links->addStretch(1);
    layout->addLayout(links);

    QLabel* copyright = makeLabel(qstr(copyrightLine), TextStyle::caption, tertiary);
    copyright->setContentsMargins(0, 6, 0, 0);
    layout->addWidget(copyright, 0, Qt::AlignHCenter);
    QLabel* affiliation = makeLabel(qstr(nonAffiliationLine), TextStyle::caption2, tertiary, true);
    affiliation->setAlignment(Qt::AlignHCenter);
    affiliation->setContentsMargins(24, 0, 24, 0);
    layout->addWidget(affiliation);
    refresh();
}

AboutSettingsPane::~AboutSettingsPane() {
    if (options_.updater) options_.updater->removeObserver(updaterObserver_);
}

void AboutSettingsPane::refresh() {
    if (!automaticChecks_) return;
    const QSignalBlocker block(automaticChecks_);
    automaticChecks_->setChecked(options_.updater->automaticallyChecksForUpdates());
}

void AboutSettingsPane::open(const std::string& url) {
    if (!AboutPaneContent::isOpenableLink(url)) return;
    if (options_.openLink) {
        options_.openLink(url);
    } else {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::StrictMode));
    }
}

} // namespace brindleaf
