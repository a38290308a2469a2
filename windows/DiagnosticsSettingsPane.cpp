#include "windows/DiagnosticsSettingsPane.hpp"

#include "presentation/PlatformStyle.hpp"
#include "windows/DiagnosticsPaneContent.hpp"
#include "windows/FormSection.hpp"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace brindleaf {

namespace {

QString qstr(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

void clear(QWidget* holder) {
    QLayout* layout = holder->layout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

QWidget* buttonRow(QPushButton* button) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(button);
    return row;
}

QWidget* holder() {
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    return widget;
}

} // namespace

DiagnosticsSettingsPane::DiagnosticsSettingsPane(std::shared_ptr<ProviderSettingsStore> settings,
                                                 std::shared_ptr<StatusDashboardModel> dashboardModel, QWidget* parent)
    : QWidget(parent), settings_(std::move(settings)), model_(std::move(dashboardModel)) {
    using namespace DiagnosticsPaneContent;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto* stale = new FormSection(qstr(staleHeader), qstr(staleFooter));
    staleRows_ = holder();
    stale->addWidget(staleRows_);
    resetCount_ = new QPushButton(qstr(resetCountTitle));
    resetCount_->setObjectName("resetCount");
    stale->addWidget(buttonRow(resetCount_));
    connect(resetCount_, &QPushButton::clicked, this, [this] { model_->clearStaleBaselines(); });
    layout->addWidget(stale);

    auto* errors = new FormSection(qstr(errorsHeader), qstr(errorsFooter));
    errorRows_ = holder();
    errors->addWidget(errorRows_);
    layout->addWidget(errors);

    auto* sample = new FormSection({}, qstr(sampleDataFooter));
    sampleData_ = new QCheckBox(qstr(sampleDataTitle));
    sampleData_->setObjectName("showSampleData");
    sample->addWidget(sampleData_);
    connect(sampleData_, &QCheckBox::toggled, this, [this](bool on) { settings_->setShowingSampleData(on); });
    layout->addWidget(sample);
    layout->addStretch(1);

    // Both announce before their new values are readable: redraw on the next turn.
    QPointer<DiagnosticsSettingsPane> self(this);
    auto later = [self] {
        QTimer::singleShot(0, self, [self] {
            if (self) self->refresh();
        });
    };
    settingsObserver_ = settings_->addObserver([later](ProviderSettingsStore::Property) { later(); });
    modelObserver_ = model_->addObserver([later](StatusDashboardModel::Property) { later(); });
    refresh();
}

DiagnosticsSettingsPane::~DiagnosticsSettingsPane() {
    settings_->removeObserver(settingsObserver_);
    model_->removeObserver(modelObserver_);
}

void DiagnosticsSettingsPane::refresh() {
    using namespace DiagnosticsPaneContent;
    const ThemeColor secondary = ThemeColor::system(ThemeColor::Role::secondaryLabel);

    clear(staleRows_);
    for (const ProviderDescriptor& provider : model_->visibleProviders()) {
        auto* row = new QWidget;
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->addWidget(makeLabel(QString::fromStdString(provider.displayName)));
        rowLayout->addStretch(1);
        QLabel* count = makeLabel(QString::fromStdString(hiddenStaleCountText(*model_, provider)));
        // Digits of one width (Qt 6.4 sets no font features): the fixed-pitch system font.
        QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        digits.setPixelSize(static_cast<int>(textStyleSize(TextStyle::body)));
        count->setFont(digits);
        count->setObjectName(QString::fromStdString("stale-" + provider.id));
        rowLayout->addWidget(count);
        staleRows_->layout()->addWidget(row);
    }
    resetCount_->setEnabled(model_->hiddenStaleCount() != 0);

    clear(errorRows_);
    const std::vector<ErrorItem> items = errorItems(*model_);
    if (items.empty()) {
        QLabel* none = makeLabel(qstr(noErrorsText), TextStyle::body, secondary);
        none->setObjectName("noErrors");
        errorRows_->layout()->addWidget(none);
    } else {
        bool anyUnread = false;
        for (const ErrorItem& item : items) {
            auto* row = new QWidget;
            row->setObjectName(QString::fromStdString(item.id));
            auto* stack = new QVBoxLayout(row);
            stack->setContentsMargins(0, 0, 0, 0);
            stack->setSpacing(3);
            auto* head = new QHBoxLayout;
            QLabel* name = makeLabel(QString::fromStdString(item.providerName));
            name->setFont(PlatformStyle::font(TextStyle::body, QFont::DemiBold));
            head->addWidget(name);
            if (!item.isRead) {
                QLabel* mark =
                    makeLabel(qstr(newMark), TextStyle::caption, ThemeColor::system(ThemeColor::Role::orange));
                mark->setObjectName("newMark");
                head->addWidget(mark);
                anyUnread = true;
            }
            head->addStretch(1);
            stack->addLayout(head);
            QLabel* message = makeLabel(QString::fromStdString(item.message), TextStyle::caption, secondary, true);
            message->setObjectName("errorMessage");
            message->setTextInteractionFlags(Qt::TextSelectableByMouse);
            stack->addWidget(message);
            errorRows_->layout()->addWidget(row);
        }
        auto* markAll = new QPushButton(qstr(markAllTitle));
        markAll->setObjectName("markAllAsRead");
        markAll->setEnabled(anyUnread);
        connect(markAll, &QPushButton::clicked, this, [this] { markAllAsRead(*model_); });
        errorRows_->layout()->addWidget(buttonRow(markAll));
    }

    const QSignalBlocker block(sampleData_);
    sampleData_->setChecked(settings_->isShowingSampleData());
}

} // namespace brindleaf
