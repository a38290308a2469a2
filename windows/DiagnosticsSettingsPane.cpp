#include "windows/DiagnosticsSettingsPane.hpp"

#include "presentation/PlatformStyle.hpp"
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

using DiagnosticsPaneContent::ErrorItem;
using DiagnosticsPaneContent::StaleRow;

QString qstr(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

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

void setText(QLabel* label, const std::string& text) {
    const QString value = QString::fromStdString(text);
    if (label->text() != value) label->setText(value);
}

// Puts one row per item into the holder, in the items' order: the row of an
// id that was shown before is kept and updated, a new id gets a new row, and
// the rows of ids no longer listed are deleted.
template <typename Item, typename Key, typename Make, typename Update>
void placeRows(QWidget* holder, std::map<std::string, QWidget*>& rows, const std::vector<Item>& items, Key key,
               Make make, Update update) {
    auto* layout = static_cast<QVBoxLayout*>(holder->layout());
    std::map<std::string, QWidget*> placed;
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::string id = key(items[i]);
        QWidget* row = nullptr;
        if (auto found = rows.find(id); found != rows.end()) {
            row = found->second;
            rows.erase(found);
        } else {
            row = make(items[i]);
        }
        update(row, items[i]);
        const int position = static_cast<int>(i);
        if (layout->indexOf(row) != position) {
            layout->removeWidget(row);
            layout->insertWidget(position, row);
        }
        placed.emplace(std::move(id), row);
    }
    for (const auto& [id, row] : rows) delete row;
    rows = std::move(placed);
}

} // namespace

DiagnosticsSettingsPane::DiagnosticsSettingsPane(std::shared_ptr<ProviderSettingsStore> settings,
                                                 std::shared_ptr<StatusDashboardModel> dashboardModel, QWidget* parent)
    : QWidget(parent), settings_(std::move(settings)), model_(std::move(dashboardModel)) {
    using namespace DiagnosticsPaneContent;
    const ThemeColor secondary = ThemeColor::system(ThemeColor::Role::secondaryLabel);
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
    noErrors_ = makeLabel(qstr(noErrorsText), TextStyle::body, secondary);
    noErrors_->setObjectName("noErrors");
    errors->addWidget(noErrors_);
    errorRows_ = holder();
    errors->addWidget(errorRows_);
    markAll_ = new QPushButton(qstr(markAllTitle));
    markAll_->setObjectName("markAllAsRead");
    connect(markAll_, &QPushButton::clicked, this, [this] { markAllAsRead(*model_); });
    markAllRow_ = buttonRow(markAll_);
    errors->addWidget(markAllRow_);
    layout->addWidget(errors);

    auto* sample = new FormSection({}, qstr(sampleDataFooter));
    sampleData_ = new QCheckBox(qstr(sampleDataTitle));
    sampleData_->setObjectName("showSampleData");
    sample->addWidget(sampleData_);
    connect(sampleData_, &QCheckBox::toggled, this, [this](bool on) { settings_->setShowingSampleData(on); });
    layout->addWidget(sample);

    auto* debug = new FormSection({}, qstr(debugLoggingFooter));
    debugLogging_ = new QCheckBox(qstr(debugLoggingTitle));
    debugLogging_->setObjectName("debugLogging");
    debug->addWidget(debugLogging_);
    connect(debugLogging_, &QCheckBox::toggled, this, [this](bool on) { settings_->setDebugLoggingEnabled(on); });
    layout->addWidget(debug);
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
    DiagnosticsPaneContent::Shown now = DiagnosticsPaneContent::shown(*model_);
    {
        const QSignalBlocker block(debugLogging_);
        debugLogging_->setChecked(settings_->isDebugLoggingEnabled());
    }
    if (shown_ == now) return;

    placeRows(
        staleRows_, staleRowsByID_, now.staleRows, [](const StaleRow& row) { return row.providerID; },
        [this](const StaleRow& row) { return makeStaleRow(row); },
        [](QWidget* widget, const StaleRow& row) {
            setText(widget->findChild<QLabel*>("staleName"), row.providerName);
            setText(widget->findChild<QLabel*>("stale-" + QString::fromStdString(row.providerID)), row.count);
        });
    resetCount_->setEnabled(now.canResetCount);

    placeRows(
        errorRows_, errorRowsByID_, now.errors, [](const ErrorItem& item) { return item.id; },
        [this](const ErrorItem& item) { return makeErrorRow(item); },
        [](QWidget* widget, const ErrorItem& item) {
            setText(widget->findChild<QLabel*>("providerName"), item.providerName);
            setText(widget->findChild<QLabel*>("errorMessage"), item.message);
            widget->findChild<QLabel*>("newMark")->setVisible(!item.isRead);
        });
    noErrors_->setVisible(now.errors.empty());
    errorRows_->setVisible(!now.errors.empty());
    markAllRow_->setVisible(!now.errors.empty());
    markAll_->setEnabled(now.canMarkAllAsRead);

    {
        const QSignalBlocker block(sampleData_);
        sampleData_->setChecked(now.isShowingSampleData);
    }
    shown_ = std::move(now);
}

QWidget* DiagnosticsSettingsPane::makeStaleRow(const StaleRow& row) {
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    QLabel* name = makeLabel({});
    name->setObjectName("staleName");
    layout->addWidget(name);
    layout->addStretch(1);
    QLabel* count = makeLabel({});
    // Digits of one width (Qt 6.4 sets no font features): the fixed-pitch system font.
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPixelSize(static_cast<int>(textStyleSize(TextStyle::body)));
    count->setFont(digits);
    count->setObjectName(QString::fromStdString("stale-" + row.providerID));
    layout->addWidget(count);
    return widget;
}

QWidget* DiagnosticsSettingsPane::makeErrorRow(const ErrorItem& item) {
    const ThemeColor secondary = ThemeColor::system(ThemeColor::Role::secondaryLabel);
    auto* widget = new QWidget;
    widget->setObjectName(QString::fromStdString(item.id));
    auto* stack = new QVBoxLayout(widget);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(3);
    auto* head = new QHBoxLayout;
    QLabel* name = makeLabel({});
    name->setObjectName("providerName");
    name->setFont(PlatformStyle::font(TextStyle::body, QFont::DemiBold));
    head->addWidget(name);
    QLabel* mark = makeLabel(qstr(DiagnosticsPaneContent::newMark), TextStyle::caption,
                             ThemeColor::system(ThemeColor::Role::orange));
    mark->setObjectName("newMark");
    head->addWidget(mark);
    head->addStretch(1);
    stack->addLayout(head);
    // Selectable, so the text can be copied.
    QLabel* message = makeLabel({}, TextStyle::caption, secondary, true);
    message->setObjectName("errorMessage");
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack->addWidget(message);
    return widget;
}

} // namespace brindleaf
