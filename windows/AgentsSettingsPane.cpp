#include "windows/AgentsSettingsPane.hpp"

#include "core/ProviderCatalog.hpp"
#include "presentation/PlatformStyle.hpp"
#include "presentation/ProviderTheme.hpp"
#include "presentation/Symbols.hpp"
#include "windows/AgentsPaneContent.hpp"
#include "windows/FolderAccessLine.hpp"
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
} // namespace

AgentsSettingsPane::AgentsSettingsPane(std::shared_ptr<ProviderSettingsStore> settings,
                                       std::shared_ptr<FolderAccessController> folderAccess, QWidget* parent)
    : QWidget(parent), settings_(std::move(settings)), folderAccess_(std::move(folderAccess)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    auto* section = new FormSection(qstr(AgentsPaneContent::header));
    for (const ProviderDescriptor& provider : ProviderCatalog::all()) {
        auto* block = new QWidget;
        auto* stack = new QVBoxLayout(block);
        stack->setContentsMargins(0, 2, 0, 2);
        stack->setSpacing(6);

        auto* head = new QHBoxLayout;
        head->setSpacing(10);
        auto* symbol = new QLabel;
        symbol->setFixedWidth(24);
        symbol->setAlignment(Qt::AlignCenter);
        const QColor accent = PlatformStyle::color(
            ProviderTheme::accentColor(provider.displayName, PlatformStyle::appearance(palette())), palette());
        symbol->setPixmap(Symbols::pixmap(provider.symbolName, QSizeF(18, 18), accent, devicePixelRatioF()));
        head->addWidget(symbol);
        auto* names = new QVBoxLayout;
        names->setSpacing(1);
        names->addWidget(makeLabel(QString::fromStdString(provider.displayName)));
        names->addWidget(makeLabel(QString::fromStdString(provider.subtitle), TextStyle::caption,
                                   ThemeColor::system(ThemeColor::Role::secondaryLabel)));
        head->addLayout(names);
        head->addStretch(1);
        auto* toggle = new QCheckBox;
        toggle->setObjectName(QString::fromStdString("agent-" + provider.id));
        toggle->setAccessibleName(QString::fromStdString(provider.displayName));
        head->addWidget(toggle);
        stack->addLayout(head);
        connect(toggle, &QCheckBox::toggled, this, [this, provider](bool on) { settings_->setProvider(on, provider); });
        rows_.push_back({provider, toggle});

        if (folderAccess_->isSandboxed()) {
            for (FolderAccessController::Folder folder : AgentsPaneContent::rowFolders(provider.id)) {
                auto* line = new FolderAccessLine(folder, folderAccess_);
                line->setObjectName(qstr("folder-" + std::string(FolderAccessController::rawValue(folder))));
                line->setContentsMargins(34, 0, 0, 0);
                stack->addWidget(line);
                lines_.push_back(line);
            }
        }
        section->addWidget(block);
    }
    footer_ = makeLabel({}, TextStyle::footnote, ThemeColor::system(ThemeColor::Role::secondaryLabel), true);
    footer_->setObjectName("agentsFooter");
    section->footerLayout()->addWidget(footer_);
    layout->addWidget(section);
    layout->addStretch(1);

    QPointer<AgentsSettingsPane> self(this);
    // The store announces before it stores: redraw on the next turn.
    settingsObserver_ = settings_->addObserver([self](ProviderSettingsStore::Property property) {
        if (property != ProviderSettingsStore::Property::enabledProviderIDs) return;
        QTimer::singleShot(0, self, [self] {
            if (self) self->refresh();
        });
    });
    folderObserver_ = folderAccess_->addObserver([this] { refresh(); });
    refresh();
}

AgentsSettingsPane::~AgentsSettingsPane() {
    settings_->removeObserver(settingsObserver_);
    folderAccess_->removeObserver(folderObserver_);
}

void AgentsSettingsPane::refresh() {
    for (const Row& row : rows_) {
        const QSignalBlocker block(row.toggle);
        row.toggle->setChecked(settings_->enabledProviderIDs().count(row.provider.id) > 0);
        row.toggle->setEnabled(settings_->canDisable(row.provider));
    }
    for (FolderAccessLine* line : lines_) line->refresh();
    QStringList lines;
    for (std::string_view line : AgentsPaneContent::footerLines(folderAccess_->isSandboxed(), ProviderCatalog::all(),
                                                                settings_->enabledProviderIDs())) {
        lines << qstr(line);
    }
    footer_->setText(lines.join('\n'));
    footer_->setVisible(!lines.isEmpty());
}

} // namespace brindleaf
