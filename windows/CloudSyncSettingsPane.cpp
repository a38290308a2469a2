#include "windows/CloudSyncSettingsPane.hpp"

#include "presentation/PlatformStyle.hpp"
#include "presentation/Symbols.hpp"
#include "sync/StatusCloudSyncController.hpp"
#include "windows/CloudSyncPaneContent.hpp"
#include "windows/FormSection.hpp"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace brindleaf {

namespace {

QString qstr(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A symbol followed by a wrapping plain-text label.
QWidget* symbolRow(std::string_view symbol, ThemeColor color, QLabel* text, const QPalette& palette, qreal ratio) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* image = new QLabel;
    image->setPixmap(Symbols::pixmap(symbol, QSizeF(14, 14), PlatformStyle::color(color, palette), ratio));
    layout->addWidget(image, 0, Qt::AlignTop);
    layout->addWidget(text, 1);
    return row;
}

} // namespace

CloudSyncSettingsPane::CloudSyncSettingsPane(std::shared_ptr<ProviderSettingsStore> settings,
                                             std::shared_ptr<StatusCloudSyncController> cloudSync,
                                             std::shared_ptr<CloudSyncChangeFanOut> changes,
                                             std::function<Date()> clock, QWidget* parent)
    : QWidget(parent),
      settings_(std::move(settings)),
      cloudSync_(std::move(cloudSync)),
      changes_(std::move(changes)),
      clock_(std::move(clock)) {
    using namespace CloudSyncPaneContent;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    auto* section = new FormSection({}, qstr(footer));
    toggle_ = new QCheckBox(qstr(toggleTitle));
    toggle_->setObjectName("cloudSyncEnabled");
    section->addWidget(toggle_);
    connect(toggle_, &QCheckBox::toggled, this, [this](bool on) { settings_->setCloudSyncEnabled(on); });

    const ThemeColor secondary = ThemeColor::system(ThemeColor::Role::secondaryLabel);
    unavailable_ =
        symbolRow("exclamationmark.icloud", secondary,
                  makeLabel(qstr(unavailableText), TextStyle::body, secondary, true), palette(), devicePixelRatioF());
    unavailable_->setObjectName("syncUnavailable");
    section->addWidget(unavailable_);

    lastSynced_ = makeLabel({});
    lastSynced_->setObjectName("lastSynced");
    lastSyncedRow_ = new QWidget;
    auto* lastRow = new QHBoxLayout(lastSyncedRow_);
    lastRow->setContentsMargins(0, 0, 0, 0);
    lastRow->addWidget(makeLabel(qstr(lastSyncedTitle)));
    lastRow->addStretch(1);
    lastRow->addWidget(lastSynced_);
    section->addWidget(lastSyncedRow_);

    const ThemeColor orange = ThemeColor::system(ThemeColor::Role::orange);
    failure_ = makeLabel({}, TextStyle::body, orange, true);
    failure_->setObjectName("syncFailure");
    failure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    failureRow_ = symbolRow("exclamationmark.triangle.fill", orange, failure_, palette(), devicePixelRatioF());
    section->addWidget(failureRow_);
    layout->addWidget(section);
    layout->addStretch(1);

    QPointer<CloudSyncSettingsPane> self(this);
    // The store announces before it stores: redraw on the next turn.
    settingsObserver_ = settings_->addObserver([self](ProviderSettingsStore::Property property) {
        if (property != ProviderSettingsStore::Property::isCloudSyncEnabled) return;
        QTimer::singleShot(0, self, [self] {
            if (self) self->refresh();
        });
    });
    if (changes_) syncObserver_ = changes_->addObserver([this] { refresh(); });
    refresh();
}

CloudSyncSettingsPane::~CloudSyncSettingsPane() {
    settings_->removeObserver(settingsObserver_);
    if (changes_) changes_->removeObserver(syncObserver_);
}

void CloudSyncSettingsPane::refresh() {
    const bool hasStore = cloudSync_ && cloudSync_->hasStore();
    const CloudSyncPaneContent::Shown shown =
        CloudSyncPaneContent::shown(hasStore, settings_->isCloudSyncEnabled(),
                                    cloudSync_ ? cloudSync_->mirrorHealth() : StatusCloudSyncHealth{}, clock_());
    {
        const QSignalBlocker block(toggle_);
        toggle_->setChecked(settings_->isCloudSyncEnabled());
    }
    toggle_->setEnabled(shown.toggleEnabled);
    unavailable_->setVisible(shown.unavailable);
    lastSyncedRow_->setVisible(shown.lastSynced.has_value());
    lastSynced_->setText(QString::fromStdString(shown.lastSynced.value_or("")));
    failureRow_->setVisible(shown.failure.has_value());
    failure_->setText(QString::fromStdString(shown.failure.value_or("")));
}

} // namespace brindleaf
