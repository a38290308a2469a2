#include "presentation/StatusDashboardView.hpp"

#include "presentation/DashboardLayout.hpp"
#include "presentation/ElidedLabel.hpp"
#include "presentation/HoverSymbolButton.hpp"
#include "presentation/PlainToolTip.hpp"
#include "presentation/PlatformStyle.hpp"
#include "presentation/ProviderTheme.hpp"
#include "presentation/ScreenshotMode.hpp"
#include "presentation/SessionRowList.hpp"
#include "presentation/SessionRowView.hpp"
#include "presentation/StatusWording.hpp"
#include "presentation/SymbolIcon.hpp"
#include "presentation/Symbols.hpp"
#include "presentation/TimeOfDayPattern.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace brindleaf {

namespace {

using Role = ThemeColor::Role;

QString qstr(const std::string& text) { return QString::fromStdString(text); }

ElidedLabel* label(QWidget* parent, const QString& text, const QFont& font, ThemeColor color, const char* name = "") {
    auto* result = new ElidedLabel(parent);
    result->setTextFont(font);
    result->setColor(color);
    result->setText(text);
    if (*name) result->setObjectName(name);
    return result;
}

// A widget filled with one theme colour (the banner's tint, the dividers).
class Fill final : public QWidget {
public:
    Fill(ThemeColor color, QWidget* parent) : QWidget(parent), color_(color) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), PlatformStyle::color(color_, palette()));
    }

private:
    ThemeColor color_;
};

QWidget* divider(QWidget* parent) {
    auto* line = new Fill(ThemeColor::system(Role::primaryLabel, 0.12), parent);
    line->setFixedHeight(1);
    return line;
}

// The header's 40 x 40 badge: the mood's tint with the session count, or the
// mood's symbol when no session is active.
class HeroBadge final : public QWidget {
public:
    explicit HeroBadge(QWidget* parent) : QWidget(parent) {
        setFixedSize(40, 40);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setState(StatusWording::Mood mood, std::int64_t count) {
        if (mood == mood_ && count == count_) return;
        mood_ = mood;
        count_ = count;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const ThemeColor moodColor = DashboardLayout::moodColor(mood_);
        ThemeColor tint = moodColor;
        tint.alpha *= 0.15;
        painter.setPen(Qt::NoPen);
        painter.setBrush(PlatformStyle::color(tint, palette()));
        painter.drawEllipse(QRectF(0, 0, 40, 40));
        const QColor color = PlatformStyle::color(moodColor, palette());
        if (count_ >= 1) {
            painter.setPen(color);
            painter.setFont(PlatformStyle::font(TextStyle::title2, QFont::Bold));
            painter.drawText(QRectF(0, 0, 40, 40), Qt::AlignCenter, QString::number(count_));
        } else {
            const double side = textStyleSize(TextStyle::title3) + 3;
            const QImage image =
                Symbols::image(DashboardLayout::moodSymbol(mood_), QSizeF(side, side), color, devicePixelRatioF());
            const QSizeF size = image.deviceIndependentSize();
            painter.drawImage(QPointF((40 - size.width()) / 2, (40 - size.height()) / 2), image);
        }
    }

private:
    StatusWording::Mood mood_ = StatusWording::Mood::idle;
    std::int64_t count_ = 0;
};

// The hidden-stale row's button: a rounded tint, darker while pressed.
class PanelRowButton final : public QAbstractButton {
public:
    explicit PanelRowButton(QWidget* parent) : QAbstractButton(parent) {
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QSize(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(
            shape, PlatformStyle::color(ThemeColor::system(Role::primaryLabel, isDown() ? 0.1 : 0.045), palette()));
        if (hasFocus()) PlatformStyle::drawFocusRing(painter, QRectF(rect()), 8, palette());
    }
};

// The empty view's link: a flat button, which the desktop's style draws
// without any mark of the focus, so it shows the focus ring itself.
class LinkButton final : public QPushButton {
public:
    LinkButton(const QString& title, QWidget* parent) : QPushButton(title, parent) {
        setFlat(true);
        setFocusPolicy(Qt::TabFocus);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPushButton::paintEvent(event);
        if (!hasFocus()) return;
        QPainter painter(this);
        PlatformStyle::drawFocusRing(painter, QRectF(rect()), 6, palette());
    }
};

// The small indeterminate spinner shown while a manual refresh runs; it turns
// only while visible.
class Spinner final : public QWidget {
public:
    explicit Spinner(QWidget* parent) : QWidget(parent) {
        setFixedSize(14, 14);
        setAccessibleName(QStringLiteral("Refreshing"));
        timer_.setInterval(80);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            step_ = (step_ + 1) % 8;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { timer_.start(); }
    void hideEvent(QHideEvent*) override { timer_.stop(); }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        const QColor base = PlatformStyle::color(ThemeColor::system(Role::secondaryLabel), palette());
        for (int i = 0; i < 8; ++i) {
            QColor color = base;
            color.setAlphaF(float(base.alphaF() * (0.25 + 0.75 * ((i - step_ + 8) % 8) / 7.0)));
            painter.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(0, 3.5), QPointF(0, 6.2));
            painter.rotate(45);
        }
    }

private:
    QTimer timer_;
    int step_ = 0;
};

QToolButton* footerButton(QWidget* parent, const QString& title, const char* name) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    button->setFixedSize(22, 22);
    button->setIconSize(QSize(15, 15));
    button->setToolTip(title);
    button->setAccessibleName(title);
    return button;
}

QPushButton* smallButton(QWidget* parent, const QString& title, const char* name) {
    auto* button = new QPushButton(title, parent);
    button->setObjectName(name);
    button->setFont(PlatformStyle::font(TextStyle::subheadline));
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

} // namespace

// One enabled agent: its symbol and name, then access, a count, "Idle" or the
// unread errors.
struct StatusDashboardView::AgentRowWidgets {
    std::string providerID;
    QWidget* row = nullptr;
    SymbolIcon* symbol = nullptr;
    ElidedLabel* name = nullptr;
    QPushButton* allowAccess = nullptr;
    ElidedLabel* count = nullptr;
    ElidedLabel* idle = nullptr;
    QToolButton* errors = nullptr;
};

StatusDashboardView::StatusDashboardView(StatusDashboardModel& model, QWidget* parent)
    : ModelBoundView(model, parent), hostScreen_(QGuiApplication::primaryScreen()) {
    setObjectName("statusDashboard");
    setFixedWidth(int(DashboardLayout::width));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // Banner.
    banner_ = new Fill(ThemeColor::system(Role::orange, 0.15), this);
    banner_->setObjectName("sampleDataBanner");
    {
        auto* row = new QHBoxLayout(banner_);
        row->setContentsMargins(14, 8, 14, 8);
        row->setSpacing(8);
        const double side = textStyleSize(TextStyle::subheadline) + 2;
        row->addWidget(new SymbolIcon("eye", ThemeColor::system(Role::primaryLabel), QSizeF(side, side),
                                      QSize(int(side) + 2, int(side) + 2), banner_));
        row->addWidget(label(banner_, QStringLiteral("Showing Sample Data"),
                             PlatformStyle::font(TextStyle::subheadline, QFont::Medium),
                             ThemeColor::system(Role::primaryLabel)),
                       1);
        turnOffButton_ = smallButton(banner_, QStringLiteral("Turn Off"), "turnOffSampleData");
        connect(turnOffButton_, &QPushButton::clicked, this, [this] { model_.settings().setShowingSampleData(false); });
        row->addWidget(turnOffButton_);
    }
    layout->addWidget(banner_);

    buildHeader(layout);
    layout->addWidget(divider(this));
    buildPanel(layout);
    layout->addWidget(divider(this));
    buildFooter(layout);

    followModel();
}

StatusDashboardView::~StatusDashboardView() {
    for (auto* row : agentRows_) delete row;
}

void StatusDashboardView::buildHeader(QVBoxLayout* layout) {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 14, 16, 10);
    row->setSpacing(12);
    heroBadge_ = new HeroBadge(header);
    heroBadge_->setObjectName("heroBadge");
    row->addWidget(heroBadge_);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    heroTitle_ = label(header, {}, PlatformStyle::font(TextStyle::headline), ThemeColor::system(Role::primaryLabel),
                       "heroTitle");
    heroSummary_ = label(header, {}, PlatformStyle::font(TextStyle::subheadline),
                         ThemeColor::system(Role::secondaryLabel), "heroSummary");
    texts->addWidget(heroTitle_);
    texts->addWidget(heroSummary_);
    row->addLayout(texts, 1);
    floatingButtonTitle_ = qstr(DashboardLayout::floatingWindowButtonTitle(model_.settings().windowShortcut()));
    floatingButton_ = new HoverSymbolButton("macwindow", floatingButtonTitle_, 40, HoverSymbolButton::Shape::circle,
                                            0.42 * 40, header);
    floatingButton_->setObjectName("showFloatingWindow");
    floatingButton_->setFocusPolicy(Qt::TabFocus);
    connect(floatingButton_, &QAbstractButton::clicked, this, [this] { run(model_.actions.onOpenGlanceWindow); });
    row->addWidget(floatingButton_);
    layout->addWidget(header);
}

void StatusDashboardView::buildPanel(QVBoxLayout* layout) {
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("dashboardScroll");
    // The scroll area itself is no stop of Tab: it follows the focused card.
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->viewport()->setAutoFillBackground(false);
    panel_ = new QWidget;
    panel_->setAutoFillBackground(false);
    auto* content = new QVBoxLayout(panel_);
    content->setContentsMargins(12, 10, 12, 10);
    content->setSpacing(14);
    content->setSizeConstraint(QLayout::SetMinAndMaxSize);

    auto sectionHeader = [this](const QString& title) {
        auto* header = label(panel_, title, PlatformStyle::font(TextStyle::subheadline, QFont::DemiBold),
                             ThemeColor::system(Role::secondaryLabel));
        header->setContentsMargins(4, 0, 4, 0);
        header->setAccessibleDescription(QStringLiteral("heading"));
        auto* box = new QWidget(panel_);
        auto* boxLayout = new QHBoxLayout(box);
        boxLayout->setContentsMargins(4, 0, 4, 0);
        boxLayout->addWidget(header);
        return box;
    };

    // Active sessions.
    auto* sessions = new QVBoxLayout;
    sessions->setSpacing(6);
    sessions->addWidget(sectionHeader(QStringLiteral("Active Sessions")));
    emptyView_ = new QWidget(panel_);
    emptyView_->setObjectName("emptySessions");
    {
        auto* empty = new QVBoxLayout(emptyView_);
        empty->setContentsMargins(0, 14, 0, 14);
        empty->setSpacing(8);
        const double side = textStyleSize(TextStyle::title2) + 6;
        emptySymbol_ = new SymbolIcon("moon.zzz", ThemeColor::system(Role::tertiaryLabel), QSizeF(side, side),
                                      QSize(int(side) + 2, int(side) + 2), emptyView_);
        empty->addWidget(emptySymbol_, 0, Qt::AlignHCenter);
        emptyText_ = label(emptyView_, {}, PlatformStyle::font(TextStyle::callout),
                           ThemeColor::system(Role::secondaryLabel), "emptyText");
        emptyText_->setAlignment(Qt::AlignCenter);
        empty->addWidget(emptyText_);
        emptyAllowAccess_ = smallButton(emptyView_, QStringLiteral("Allow Access…"), "emptyAllowAccess");
        connect(emptyAllowAccess_, &QPushButton::clicked, this, [this] {
            run([this] {
                if (model_.actions.onSettings) model_.actions.onSettings(SettingsPane::agents);
            });
        });
        empty->addWidget(emptyAllowAccess_, 0, Qt::AlignHCenter);
        emptyShowSample_ = new LinkButton(QStringLiteral("Show Sample Data"), emptyView_);
        emptyShowSample_->setObjectName("showSampleData");
        emptyShowSample_->setCursor(Qt::PointingHandCursor);
        emptyShowSample_->setFont(PlatformStyle::font(TextStyle::callout));
        connect(emptyShowSample_, &QPushButton::clicked, this,
                [this] { model_.settings().setShowingSampleData(true); });
        empty->addWidget(emptyShowSample_, 0, Qt::AlignHCenter);
    }
    sessions->addWidget(emptyView_);
    sessionsLayout_ = new QVBoxLayout;
    sessionsLayout_->setSpacing(6);
    sessions->addLayout(sessionsLayout_);
    rows_ = std::make_unique<SessionRowList>(sessionsLayout_, panel_, sessionRowActions());
    content->addLayout(sessions);

    // Agents.
    auto* agents = new QVBoxLayout;
    agents->setSpacing(6);
    agents->addWidget(sectionHeader(QStringLiteral("Agents")));
    agentsLayout_ = new QVBoxLayout;
    agentsLayout_->setSpacing(2);
    agents->addLayout(agentsLayout_);
    content->addLayout(agents);

    // Hidden stale sessions.
    staleRow_ = new PanelRowButton(panel_);
    staleRow_->setObjectName("hiddenStaleSessions");
    staleRow_->setToolTip(plainToolTip(qstr(StatusWording::staleSessionsHelp())));
    {
        auto* row = new QHBoxLayout(staleRow_);
        row->setContentsMargins(10, 7, 10, 7);
        row->setSpacing(6);
        const double side = textStyleSize(TextStyle::body) + 2;
        row->addWidget(new SymbolIcon("clock.badge.exclamationmark", ThemeColor::system(Role::primaryLabel),
                                      QSizeF(side, side), QSize(int(side) + 2, int(side) + 2), staleRow_));
        row->addWidget(label(staleRow_, QStringLiteral("Hidden Stale Sessions"), PlatformStyle::font(TextStyle::body),
                             ThemeColor::system(Role::primaryLabel)),
                       1);
        staleCount_ = label(staleRow_, {}, PlatformStyle::font(TextStyle::body),
                            ThemeColor::system(Role::secondaryLabel), "hiddenStaleCount");
        staleCount_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(staleCount_);
        const double chevron = textStyleSize(TextStyle::caption);
        row->addWidget(new SymbolIcon("chevron.right", ThemeColor::system(Role::tertiaryLabel),
                                      QSizeF(chevron, chevron), QSize(int(chevron) + 2, int(chevron) + 2), staleRow_));
        for (auto* child : staleRow_->findChildren<QWidget*>()) child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    connect(staleRow_, &QAbstractButton::clicked, this, [this] {
        run([this] {
            if (model_.actions.onSettings) model_.actions.onSettings(SettingsPane::diagnostics);
        });
    });
    content->addWidget(staleRow_);

    scroll_->setWidget(panel_);
    layout->addWidget(scroll_);
    // A row that changes between redraws (a late layout pass, a new font)
    // resizes the panel's layout: the scroll area follows.
    panel_->installEventFilter(this);
}

void StatusDashboardView::buildFooter(QVBoxLayout* layout) {
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(6);
    updatedLabel_ = label(footer, {}, PlatformStyle::font(TextStyle::caption), ThemeColor::system(Role::secondaryLabel),
                          "updatedTime");
    row->addWidget(updatedLabel_);
    spinner_ = new Spinner(footer);
    spinner_->setObjectName("refreshSpinner");
    row->addWidget(spinner_);
    row->addStretch(1);
    updateButton_ = new QToolButton(footer);
    updateButton_->setObjectName("updateButton");
    updateButton_->setAutoRaise(true);
    updateButton_->setFocusPolicy(Qt::TabFocus);
    updateButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    updateButton_->setFont(PlatformStyle::font(TextStyle::caption, QFont::DemiBold));
    updateButton_->setToolTip(QStringLiteral("A new version of Brindleaf is available."));
    connect(updateButton_, &QToolButton::clicked, this, [this] { run(onCheckForUpdates); });
    row->addWidget(updateButton_);
    refreshButton_ = footerButton(footer, QStringLiteral("Refresh"), "refreshButton");
    connect(refreshButton_, &QToolButton::clicked, this, [this] { run(model_.actions.onRefresh); });
    settingsButton_ = footerButton(footer, QStringLiteral("Settings…"), "settingsButton");
    connect(settingsButton_, &QToolButton::clicked, this, [this] {
        run([this] {
            if (model_.actions.onSettings) model_.actions.onSettings(std::nullopt);
        });
    });
    quitButton_ = footerButton(footer, QStringLiteral("Quit Brindleaf"), "quitButton");
    connect(quitButton_, &QToolButton::clicked, this, [this] { run(model_.actions.onQuit); });
    row->addWidget(refreshButton_);
    row->addWidget(settingsButton_);
    row->addWidget(quitButton_);
    layout->addWidget(footer);
}

void StatusDashboardView::run(const std::function<void()>& action) const {
    if (action) action();
}

void StatusDashboardView::setHostScreen(QScreen* screen) {
    hostScreen_ = screen;
    hasHostScreen_ = screen != nullptr;
    resizeScrollArea();
}

void StatusDashboardView::setPendingUpdateVersion(std::optional<std::string> version) {
    pendingUpdateVersion_ = std::move(version);
    scheduleApply();
}

void StatusDashboardView::changeEvent(QEvent* event) {
    // Symbols tinted from the palette, and the Hermes accent, follow light and dark.
    if (event->type() == QEvent::PaletteChange) scheduleApply();
    QWidget::changeEvent(event);
}

bool StatusDashboardView::eventFilter(QObject* watched, QEvent* event) {
    // The panel's layout has already been redone when its filters see the
    // request.
    if (watched == panel_ && event->type() == QEvent::LayoutRequest) resizeScrollArea();
    return ModelBoundView::eventFilter(watched, event);
}

void StatusDashboardView::redraw() {
    const AgentStatusSnapshot& shown = model_.displaySnapshot();
    banner_->setVisible(model_.settings().isShowingSampleData() && !isScreenshotMode());
    applyHeader(shown);
    applySessions(shown);
    applyAgents();
    const std::int64_t stale = model_.hiddenStaleCount();
    staleRow_->setVisible(stale >= 1);
    staleCount_->setText(QString::number(stale));
    applyFooter(shown);
    resizeScrollArea();
    applyTabOrder();
}

void StatusDashboardView::applyTabOrder() {
    // Top to bottom, left to right, as the controls are seen; Tab skips the
    // hidden ones.
    std::vector<QWidget*> order{turnOffButton_, floatingButton_};
    for (auto* row : rows_->rows()) order.push_back(row);
    order.push_back(emptyAllowAccess_);
    order.push_back(emptyShowSample_);
    for (const auto* row : agentRows_) {
        order.push_back(row->allowAccess);
        order.push_back(row->errors);
    }
    order.insert(order.end(), {staleRow_, updateButton_, refreshButton_, settingsButton_, quitButton_});
    for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

bool StatusDashboardView::focusNextPrevChild(bool next) {
    // The list scrolls to a control that Tab reaches inside it, but only
    // when Tab starts inside it too: from the header or the footer the focus
    // could land on a card or row scrolled out of sight.
    if (!ModelBoundView::focusNextPrevChild(next)) return false;
    if (QWidget* focused = QApplication::focusWidget(); focused && panel_->isAncestorOf(focused))
        scroll_->ensureWidgetVisible(focused);
    return true;
}

void StatusDashboardView::keyPressEvent(QKeyEvent* event) {
    // Return and Enter press the focused button, as Space does.
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !(event->modifiers() & ~Qt::KeypadModifier)) {
        auto* button = qobject_cast<QAbstractButton*>(focusWidget());
        if (button && isAncestorOf(button) && button->isEnabled() && button->isVisible()) {
            event->accept();
            button->click();
            return;
        }
    }
    ModelBoundView::keyPressEvent(event);
}

void StatusDashboardView::applyHeader(const AgentStatusSnapshot& shown) {
    const auto mood = model_.activityState();
    const auto running = std::int64_t(shown.runningSessions().size());
    const auto waiting = std::int64_t(shown.waitingSessions().size());
    static_cast<HeroBadge*>(heroBadge_)->setState(mood, running + waiting);
    heroBadge_->setProperty("count", QVariant::fromValue<qlonglong>(running + waiting));
    heroTitle_->setText(qstr(StatusWording::title(mood)));
    heroSummary_->setText(qstr(StatusWording::summary(mood, running, waiting, std::nullopt, now())));
    const QString title = qstr(DashboardLayout::floatingWindowButtonTitle(model_.settings().windowShortcut()));
    if (title != floatingButtonTitle_) {
        floatingButtonTitle_ = title;
        floatingButton_->setToolTip(plainToolTip(title));
        floatingButton_->setAccessibleName(title);
    }
}

void StatusDashboardView::applySessions(const AgentStatusSnapshot& shown) {
    const auto& sessions = shown.activeSessions;
    const bool empty = sessions.empty();
    emptyView_->setVisible(empty);
    if (empty) {
        bool needsAccess = false;
        for (const auto& provider : model_.visibleProviders())
            if (model_.needsAccess(provider)) needsAccess = true;
        emptySymbol_->setSymbol(needsAccess ? "lock.circle" : "moon.zzz");
        emptyText_->setText(needsAccess ? QStringLiteral("Brindleaf needs access to your agents’ folders.")
                                        : QStringLiteral("No agents are running."));
        emptyAllowAccess_->setVisible(needsAccess);
        emptyShowSample_->setVisible(!needsAccess);
        QPalette link = emptyShowSample_->palette();
        link.setColor(QPalette::ButtonText, palette().color(QPalette::Highlight));
        emptyShowSample_->setPalette(link);
    }

    rows_->apply(sessions, DashboardLayout::maxSessionRows, now());
}

void StatusDashboardView::applyAgents() {
    const auto providers = model_.visibleProviders();
    bool same = providers.size() == agentRows_.size();
    for (std::size_t i = 0; same && i < providers.size(); ++i) same = agentRows_[i]->providerID == providers[i].id;
    if (!same) {
        for (auto* row : agentRows_) {
            delete row->row;
            delete row;
        }
        agentRows_.clear();
        for (const auto& provider : providers) {
            auto* widgets = new AgentRowWidgets;
            widgets->providerID = provider.id;
            widgets->row = new QWidget(panel_);
            widgets->row->setObjectName(qstr("agent-" + provider.id));
            auto* row = new QHBoxLayout(widgets->row);
            row->setContentsMargins(6, 5, 6, 5);
            row->setSpacing(8);
            widgets->symbol = new SymbolIcon(provider.symbolName, ThemeColor::system(Role::secondaryLabel),
                                             QSizeF(15, 15), QSize(18, 18), widgets->row);
            widgets->name = label(widgets->row, qstr(provider.displayName), PlatformStyle::font(TextStyle::body),
                                  ThemeColor::system(Role::primaryLabel));
            widgets->allowAccess = smallButton(widgets->row, QStringLiteral("Allow Access…"), "agentAllowAccess");
            const std::string id = provider.id;
            connect(widgets->allowAccess, &QPushButton::clicked, this, [this, id] {
                if (model_.actions.onRequestAccess) model_.actions.onRequestAccess(id);
            });
            widgets->count = label(widgets->row, {}, PlatformStyle::font(TextStyle::body),
                                   ThemeColor::system(Role::secondaryLabel), "agentCount");
            widgets->idle = label(widgets->row, QStringLiteral("Idle"), PlatformStyle::font(TextStyle::body),
                                  ThemeColor::system(Role::tertiaryLabel), "agentIdle");
            widgets->errors = new QToolButton(widgets->row);
            widgets->errors->setObjectName("agentErrors");
            widgets->errors->setText(QStringLiteral("Can’t Read Status"));
            widgets->errors->setAutoRaise(true);
            widgets->errors->setFocusPolicy(Qt::TabFocus);
            widgets->errors->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
            widgets->errors->setFont(PlatformStyle::font(TextStyle::body));
            connect(widgets->errors, &QToolButton::clicked, this, [this] {
                if (model_.actions.onSettings) model_.actions.onSettings(SettingsPane::diagnostics);
            });
            row->addWidget(widgets->symbol);
            row->addWidget(widgets->name, 1);
            row->addWidget(widgets->allowAccess);
            row->addWidget(widgets->count);
            row->addWidget(widgets->idle);
            row->addWidget(widgets->errors);
            agentsLayout_->addWidget(widgets->row);
            agentRows_.push_back(widgets);
        }
    }
    const Appearance appearance = PlatformStyle::appearance(palette());
    for (std::size_t i = 0; i < providers.size(); ++i) {
        const auto& provider = providers[i];
        AgentRowWidgets& widgets = *agentRows_[i];
        widgets.symbol->setTint(ProviderTheme::accentColor(provider.displayName, appearance));
        const bool needsAccess = model_.needsAccess(provider);
        const std::int64_t count = model_.activeSessionCount(provider);
        std::vector<std::string> unread;
        if (model_.folderAccess().hasAccess(provider.id)) {
            const auto snapshot = model_.providerSnapshot(provider);
            unread = model_.settings().unacknowledgedErrors(provider.displayName,
                                                            snapshot ? snapshot->errors : std::vector<std::string>{});
        }
        widgets.allowAccess->setVisible(needsAccess);
        widgets.count->setVisible(!needsAccess && count >= 1);
        widgets.idle->setVisible(!needsAccess && count < 1 && unread.empty());
        widgets.errors->setVisible(!needsAccess && count < 1 && !unread.empty());
        if (count >= 1) widgets.count->setText(qstr(StatusWording::sessionCount(count)));
        if (!unread.empty()) {
            QString help;
            for (const auto& error : unread) help += (help.isEmpty() ? "" : "\n") + qstr(error);
            widgets.errors->setToolTip(plainToolTip(help));
            const QColor orange = PlatformStyle::color(ThemeColor::system(Role::orange), palette());
            widgets.errors->setIcon(Symbols::icon("exclamationmark.triangle.fill", orange));
            QPalette textPalette = widgets.errors->palette();
            textPalette.setColor(QPalette::ButtonText, orange);
            widgets.errors->setPalette(textPalette);
        }
    }
}

void StatusDashboardView::applyFooter(const AgentStatusSnapshot& shown) {
    const QTime time = QDateTime::fromMSecsSinceEpoch(std::int64_t(std::llround(shown.checkedAt * 1000))).time();
    const QLocale locale;
    const QString pattern =
        QString::fromStdString(TimeOfDayPattern::withoutTimeZone(locale.timeFormat(QLocale::LongFormat).toStdString()));
    updatedLabel_->setText("Updated " + locale.toString(time, pattern));
    spinner_->setVisible(model_.isRefreshing());
    refreshButton_->setEnabled(!model_.isRefreshing());
    const QColor secondary = PlatformStyle::color(ThemeColor::system(Role::secondaryLabel), palette());
    refreshButton_->setIcon(Symbols::icon("arrow.clockwise", secondary));
    settingsButton_->setIcon(Symbols::icon("gearshape", secondary));
    quitButton_->setIcon(Symbols::icon("power", secondary));
    updateButton_->setVisible(pendingUpdateVersion_.has_value());
    if (pendingUpdateVersion_) {
        const QColor accent = palette().color(QPalette::Highlight);
        updateButton_->setText("Update to " + qstr(*pendingUpdateVersion_));
        updateButton_->setIcon(Symbols::icon("arrow.down.circle.fill", accent));
        QPalette accentPalette = updateButton_->palette();
        accentPalette.setColor(QPalette::ButtonText, accent);
        updateButton_->setPalette(accentPalette);
    }
}

void StatusDashboardView::resizeScrollArea() {
    // Widgets shown or hidden in this redraw have only asked for a new layout
    // pass; run those passes now, rows first, so the panel's size hint is
    // the one the next paint will show.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    panel_->layout()->activate();
    const double content = panel_->layout()->sizeHint().height();
    std::optional<double> screenHeight;
    if (hasHostScreen_ && hostScreen_) screenHeight = hostScreen_->availableGeometry().height();
    const int height = int(std::ceil(DashboardLayout::scrollAreaHeight(content, screenHeight)));
    if (scroll_->height() != height || scroll_->minimumHeight() != height) scroll_->setFixedHeight(height);
    const QSize hint = sizeHint();
    if (hint != lastSizeHint_) {
        lastSizeHint_ = hint;
        emit preferredSizeChanged();
    }
}

std::vector<SessionRowView*> StatusDashboardView::sessionRows() const { return rows_->rows(); }

int StatusDashboardView::scrollAreaHeight() const { return scroll_->height(); }

} // namespace brindleaf
