// The dashboard view over a real model and settings store, offscreen.
#include "core/ProviderCatalog.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/DashboardPanel.hpp"
#include "presentation/ElidedLabel.hpp"
#include "presentation/SessionRowView.hpp"
#include "presentation/StatusDashboardView.hpp"
#include "tests/presentation/GuiApplication.hpp"
#include "tests/presentation/ViewTestSupport.hpp"
#include "tests/support/FontconfigLeakSuppression.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollArea>

#include <gtest/gtest.h>

#include <set>

using namespace brindleaf;
using brindleaf::testing::FakeFolderAccess;

namespace {

AgentSession codexSession(int index, bool waiting = false, std::string title = {}) {
    const std::string number = std::to_string(index);
    if (title.empty()) title = "Task " + number;
    return AgentSession({.id = "s" + number,
                         .provider = "Codex",
                         .title = title,
                         .cwd = "/work/project",
                         .lastActivityAt = 990,
                         .evidence = "tool call running",
                         .needsUserAttention = waiting,
                         .resourceUsage = SessionResourceUsage(4000 + index, 5.0, 1 << 20, 1)});
}

AgentStatusSnapshot snapshotOf(std::vector<AgentSession> sessions, std::vector<std::string> errors = {},
                               std::int64_t stale = 0) {
    return AgentStatusSnapshot::make(
        {ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, std::move(sessions), stale, 1000, errors)}, 1000);
}

struct Fixture {
    ManualMainQueue queue;
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory("dashboard-view-tests");
    std::shared_ptr<ProviderSettingsStore> settings = std::make_shared<ProviderSettingsStore>(defaults);
    std::shared_ptr<FakeFolderAccess> access = std::make_shared<FakeFolderAccess>();
    std::unique_ptr<StatusDashboardModel> model;
    std::unique_ptr<StatusDashboardView> view;
    std::vector<std::string> calls;

    explicit Fixture(AgentStatusSnapshot snapshot = {}) {
        brindleaf::testing::ensureGuiApplication();
        model = std::make_unique<StatusDashboardModel>(queue, std::move(snapshot), settings, access,
                                                       ClearedStaleBaselines{}, ProviderCatalog::all());
        model->actions.onRefresh = [this] { calls.push_back("refresh"); };
        model->actions.onQuit = [this] { calls.push_back("quit"); };
        model->actions.onOpenGlanceWindow = [this] { calls.push_back("glance"); };
        model->actions.onSettings = [this](std::optional<SettingsPane> pane) {
            std::string call = "settings:";
            call.append(pane ? toString(*pane) : std::string_view("none"));
            calls.push_back(call);
        };
        model->actions.onRequestAccess = [this](const std::string& id) {
            std::string call = "access:";
            call.append(id);
            calls.push_back(call);
        };
        view = std::make_unique<StatusDashboardView>(*model);
        view->setClock([] { return Date(1000); });
        view->setHostScreen(nullptr);
        view->setScreenshotMode(false);
        settle();
    }
    // Lets the model's and the view's next-turn work run.
    void settle() { brindleaf::testing::settle(queue); }
    template <typename T = QWidget>
    T* child(const char* name) const {
        return view->findChild<T*>(name);
    }
    bool visible(const char* name) const { return child(name) && !child(name)->isHidden(); }
    void click(const char* name) {
        auto* button = child<QAbstractButton>(name);
        ASSERT_NE(button, nullptr) << name;
        button->click();
    }
};

} // namespace

TEST(StatusDashboardView, ListsTwelveOfThirteenSessionsAndCountsAll) {
    std::vector<AgentSession> sessions;
    for (int i = 1; i <= 13; ++i) sessions.push_back(codexSession(i, i == 13));
    Fixture f(snapshotOf(sessions));
    const auto rows = f.view->sessionRows();
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(rows.front()->content().id, "s1");
    EXPECT_EQ(rows.back()->content().id, "s12");
    EXPECT_EQ(f.child("heroBadge")->property("count").toLongLong(), 13);
    EXPECT_EQ(f.child<ElidedLabel>("heroSummary")->text(), "12 sessions running \u00B7 1 waiting for you");
    EXPECT_EQ(f.child<ElidedLabel>("agentCount")->text(), "13 sessions");
    EXPECT_FALSE(f.visible("emptySessions"));
    EXPECT_EQ(f.view->scrollAreaHeight(), 630); // capped without a screen

    // A refresh keeps the rows of sessions still there and drops the others.
    sessions.erase(sessions.begin());
    f.model->setSnapshot(snapshotOf(sessions));
    f.settle();
    const auto after = f.view->sessionRows();
    ASSERT_EQ(after.size(), 12u);
    EXPECT_EQ(after[0], rows[1]);
    EXPECT_EQ(after.back()->content().id, "s13");
}

TEST(StatusDashboardView, EmptyViewsCallTheirActions) {
    Fixture f;
    EXPECT_TRUE(f.visible("emptySessions"));
    EXPECT_EQ(f.child<ElidedLabel>("emptyText")->text(), "No agents are running.");
    EXPECT_EQ(f.view->scrollAreaHeight() >= 60, true);
    f.click("showSampleData");
    EXPECT_TRUE(f.settings->isShowingSampleData());
    f.settle();
    EXPECT_TRUE(f.visible("sampleDataBanner"));
    EXPECT_EQ(f.view->sessionRows().size(), 3u);
    f.click("turnOffSampleData");
    EXPECT_FALSE(f.settings->isShowingSampleData());

    // A missing grant: the empty view sends to the Agents pane, the agent's row asks directly.
    f.access->missing = {"codex"};
    f.access->granted = {"claude", "hermes"};
    f.view->scheduleApply();
    f.settle();
    EXPECT_EQ(f.child<ElidedLabel>("emptyText")->text(), "Brindleaf needs access to your agents’ folders.");
    f.click("emptyAllowAccess");
    f.child<QWidget>("agent-codex")->findChild<QAbstractButton*>("agentAllowAccess")->click();
    f.click("hiddenStaleSessions");
    f.click("showFloatingWindow");
    f.click("refreshButton");
    f.click("settingsButton");
    f.click("quitButton");
    EXPECT_EQ(f.calls, (std::vector<std::string>{"settings:agents", "access:codex", "settings:diagnostics", "glance",
                                                 "refresh", "settings:none", "quit"}));
}

TEST(StatusDashboardView, AgentRowsStaleRowSpinnerAndUpdate) {
    Fixture f(snapshotOf({}, {"cannot read <state.db>"}, 2));
    auto* codex = f.child<QWidget>("agent-codex");
    ASSERT_NE(codex, nullptr);
    auto* errors = codex->findChild<QAbstractButton*>("agentErrors");
    EXPECT_FALSE(errors->isHidden());
    EXPECT_TRUE(errors->toolTip().contains("&lt;state.db&gt;"));
    EXPECT_FALSE(f.child<QWidget>("agent-claude")->findChild<QWidget*>("agentIdle")->isHidden());
    EXPECT_TRUE(f.visible("hiddenStaleSessions"));
    EXPECT_EQ(f.child<ElidedLabel>("hiddenStaleCount")->text(), "2");
    f.settings->acknowledgeErrors("Codex", {"cannot read <state.db>"});
    f.model->clearStaleBaselines();
    f.settle();
    EXPECT_TRUE(errors->isHidden());
    EXPECT_FALSE(f.visible("hiddenStaleSessions"));

    EXPECT_FALSE(f.visible("refreshSpinner"));
    f.model->beginManualRefresh();
    f.settle();
    EXPECT_TRUE(f.visible("refreshSpinner"));
    EXPECT_FALSE(f.child<QAbstractButton>("refreshButton")->isEnabled());

    EXPECT_FALSE(f.visible("updateButton"));
    f.view->setPendingUpdateVersion("2.1");
    f.settle();
    EXPECT_EQ(f.child<QAbstractButton>("updateButton")->text(), "Update to 2.1");
}

// A card goes to its session when clicked and from its menu once the check
// says it can; where it cannot, the menu's item is disabled and says why.
TEST(StatusDashboardView, CardsGoToTheirSessionWhereTheyCan) {
    Fixture f(snapshotOf({codexSession(1, false, "one")}));
    std::vector<int64_t> went;
    std::optional<SessionJumpCheck> answer;
    f.model->actions.onGoToSession = [&went](int64_t pid) { went.push_back(pid); };
    f.model->actions.onCheckGoToSession = [&answer](int64_t, std::function<void(SessionJumpCheck)> reply) {
        if (answer) reply(*answer);
    };
    SessionRowView* row = f.view->sessionRows().at(0);

    const auto click = [row](Qt::MouseButton button) {
        const QPointF at(20, 10);
        QMouseEvent press(QEvent::MouseButtonPress, at, row->mapToGlobal(at), button, button, {});
        QMouseEvent release(QEvent::MouseButtonRelease, at, row->mapToGlobal(at), button, Qt::NoButton, {});
        QApplication::sendEvent(row, &press);
        QApplication::sendEvent(row, &release);
    };
    click(Qt::LeftButton);
    click(Qt::RightButton);
    EXPECT_EQ(went, std::vector<int64_t>{4001});

    answer = SessionJumpCheck{false, SessionJumper::tmuxDetached};
    QMenu* menu = row->showContextMenu(QPoint(10, 10));
    QAction* goTo = menu->actions().front();
    EXPECT_FALSE(goTo->isEnabled());
    EXPECT_EQ(goTo->toolTip(), SessionJumper::tmuxDetached);
    EXPECT_EQ(row->toolTip(), SessionJumper::tmuxDetached);
    menu->close();

    answer = SessionJumpCheck{true, ""};
    menu = row->showContextMenu(QPoint(10, 10));
    goTo = menu->actions().front();
    ASSERT_TRUE(goTo->isEnabled());
    EXPECT_TRUE(row->toolTip().isEmpty());
    goTo->trigger();
    EXPECT_EQ(went, (std::vector<int64_t>{4001, 4001}));
    menu->close();
}

TEST(StatusDashboardView, AgentTextIsPlainTextAndMenusCopy) {
    Fixture f(snapshotOf({codexSession(1, false, "<b>x</b>")}));
    auto rows = f.view->sessionRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->findChild<ElidedLabel*>("sessionTitle")->text(), "<b>x</b>");

    QMenu* menu = rows[0]->showContextMenu(QPoint(10, 10));
    QPointer<QMenu> guard(menu);
    std::vector<std::pair<QString, QString>> copied;
    // "Go to Session" first, disabled until the check answers (none here).
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_EQ(menu->actions().front()->text(), "Go to Session");
    EXPECT_FALSE(menu->actions().front()->isEnabled());
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || action == menu->actions().front()) continue;
        action->trigger();
        copied.emplace_back(action->text(), QGuiApplication::clipboard()->text());
    }
    EXPECT_EQ(copied, (std::vector<std::pair<QString, QString>>{
                          {"Copy Title", "<b>x</b>"},
                          {"Copy Session ID", "s1"},
                          {"Copy Project Path", "/work/project"},
                          {"Copy Process ID", "4001"},
                          {"Copy Diagnostic Details", "Title: <b>x</b>\nAgent: Codex\nSession ID: s1\n"
                                                      "Evidence: tool call running\nPath: /work/project\nPID: 4001"}}));

    // A refresh that drops the session keeps the row alive while its menu is open.
    QPointer<SessionRowView> row(rows[0]);
    f.model->setSnapshot(snapshotOf({}));
    f.settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(row);
    EXPECT_TRUE(f.view->sessionRows().empty());
    menu->close();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(guard);
    EXPECT_FALSE(row);
}

TEST(StatusDashboardView, PanelHostsTheView) {
    Fixture f;
    auto* view = f.view.release();
    DashboardPanel panel(view);
    panel.setRoundedMask(true);
    panel.adjustSize();
    EXPECT_EQ(panel.view(), view);
    EXPECT_EQ(view->width(), 380);
    EXPECT_FALSE(panel.mask().isEmpty());
    EXPECT_FALSE(panel.mask().contains(QPoint(0, 0))); // the corner is cut
}

TEST(StatusDashboardView, AgentErrorsCountOnlyWithFolderAccess) {
    struct Case {
        std::set<std::string> granted, missing;
        const char* shown; // the Codex row's trailing element
    } cases[] = {
        {{"codex"}, {}, "agentErrors"},
        {{}, {}, "agentIdle"}, // errors of a folder it may not read are not considered
        {{}, {"codex"}, "agentAllowAccess"},
    };
    for (const auto& c : cases) {
        Fixture f(snapshotOf({}, {"cannot read state.db"}));
        f.access->granted = c.granted;
        f.access->missing = c.missing;
        f.view->apply();
        auto* codex = f.child<QWidget>("agent-codex");
        for (const char* name : {"agentErrors", "agentIdle", "agentAllowAccess", "agentCount"})
            EXPECT_EQ(!codex->findChild<QWidget*>(name)->isHidden(), std::string(name) == c.shown)
                << c.shown << " / " << name;
    }
}

TEST(StatusDashboardView, ScreenshotModeHidesOnlyTheSampleBanner) {
    Fixture f;
    f.settings->setShowingSampleData(true);
    f.view->setScreenshotMode(true);
    f.settle();
    EXPECT_FALSE(f.visible("sampleDataBanner"));
    EXPECT_EQ(f.view->sessionRows().size(), 3u);
    f.view->setScreenshotMode(false);
    f.settle();
    EXPECT_TRUE(f.visible("sampleDataBanner"));
}

TEST(StatusDashboardView, FooterTimeHasSecondsAndNoZone) {
    const QLocale saved;
    const QDateTime at(QDate(2026, 3, 2), QTime(9, 26, 3));
    Fixture f(AgentStatusSnapshot::make({}, Date(at.toSecsSinceEpoch())));
    struct Case {
        QLocale locale;
        QString prefix, suffix;
    } cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), "Updated 9:26:03", "AM"},
        {QLocale(QLocale::German, QLocale::Germany), "Updated 09:26:03", "Updated 09:26:03"},
        {QLocale(QLocale::Persian, QLocale::Iran), "Updated ", QString::fromUtf8("\u06F0\u06F3")},
    };
    for (const auto& c : cases) {
        QLocale::setDefault(c.locale);
        f.view->apply();
        const QString text = f.child<ElidedLabel>("updatedTime")->text();
        EXPECT_TRUE(text.startsWith(c.prefix) && text.endsWith(c.suffix)) << text.toStdString();
    }
    QLocale::setDefault(saved);
}

TEST(StatusDashboardView, FloatingWindowButtonNamesTheShortcut) {
    Fixture f;
    auto* button = f.child<QAbstractButton>("showFloatingWindow");
    ASSERT_EQ(f.settings->updateWindowShortcut({49, HotkeyShortcut::controlModifier | HotkeyShortcut::shiftModifier |
                                                        HotkeyShortcut::commandModifier}),
              ShortcutChangeResult::accepted);
    f.settle();
    EXPECT_EQ(button->accessibleName(), QString("Show Floating Window (Ctrl+Shift+Super+Space)"));
    EXPECT_TRUE(button->toolTip().contains(QString("Show Floating Window (Ctrl+Shift+Super+Space)")));
}

// A row whose trailing element changed counts with its new height in the
// redraw itself, so the scroll area is never sized from the old one.
TEST(StatusDashboardView, ScrollAreaFollowsRowsWhoseTrailingElementChanged) {
    Fixture f(snapshotOf({}, {"cannot read state.db"}));
    f.view->show();
    f.settle();
    auto* panel = f.child<QScrollArea>("dashboardScroll")->widget();
    const std::vector<AgentStatusSnapshot> steps = {snapshotOf({codexSession(1)}), snapshotOf({}),
                                                    snapshotOf({}, {"cannot read state.db"}),
                                                    snapshotOf({codexSession(1), codexSession(2)})};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        f.model->setSnapshot(steps[i]);
        f.queue.drain();
        f.view->apply();
        const int atRedraw = f.view->scrollAreaHeight();
        f.settle();
        EXPECT_EQ(atRedraw, f.view->scrollAreaHeight()) << "step " << i;
        EXPECT_EQ(f.view->scrollAreaHeight(), panel->sizeHint().height()) << "step " << i;
    }
}
