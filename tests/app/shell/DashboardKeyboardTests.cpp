// The dashboard in its popup window, driven from the keyboard as a user does:
// Tab and Shift+Tab walk the controls in the order they are seen, the focused
// one shows it, and Space, Return and Enter press it.
#include "app/shell/PopoverWindow.hpp"
#include "core/ProviderCatalog.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/DashboardPanel.hpp"
#include "presentation/FolderAccessQuery.hpp"
#include "presentation/SessionRowView.hpp"
#include "presentation/StatusDashboardModel.hpp"
#include "presentation/StatusDashboardView.hpp"
#include "presentation/WindowFocus.hpp"
#include "tests/app/shell/ShellTestSupport.hpp"
#include "tests/support/FontconfigLeakSuppression.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <set>

namespace brindleaf {
namespace {

struct FolderAccess final : FolderAccessQuery {
    std::set<std::string> missing;
    bool hasMissingFolders(const std::string& id) const override { return missing.count(id) > 0; }
    bool hasAccess(const std::string& id) const override { return !missing.count(id); }
};

AgentSession session(const std::string& id) {
    return AgentSession({.id = id,
                         .provider = "Codex",
                         .title = "Task " + id,
                         .cwd = "/work/project",
                         .lastActivityAt = 990,
                         .evidence = "tool call running"});
}

// The popup as the tray shell makes and opens it, over a model of the test's.
struct Dashboard {
    ManualMainQueue queue;
    std::shared_ptr<ProviderSettingsStore> settings =
        std::make_shared<ProviderSettingsStore>(UserDefaults::inMemory("dashboard-keyboard-tests"));
    std::shared_ptr<FolderAccess> access = std::make_shared<FolderAccess>();
    std::unique_ptr<StatusDashboardModel> model;
    StatusDashboardView* view = nullptr;
    std::unique_ptr<PopoverWindow> popover;
    std::vector<std::string> calls;

    explicit Dashboard(std::vector<AgentSession> sessions, std::vector<std::string> hermesErrors = {},
                       std::int64_t stale = 0, std::set<std::string> missing = {}) {
        testing::shellApplication();
        access->missing = std::move(missing);
        auto snapshot = AgentStatusSnapshot::make(
            {ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, std::move(sessions), stale, 1000, {}),
             ProviderSnapshot::make("Hermes", std::nullopt, std::nullopt, {}, 0, 1000, hermesErrors)},
            1000);
        model = std::make_unique<StatusDashboardModel>(queue, std::move(snapshot), settings, access,
                                                       ClearedStaleBaselines{}, ProviderCatalog::all());
        model->actions.onRefresh = [this] { calls.push_back("refresh"); };
        model->actions.onQuit = [this] { calls.push_back("quit"); };
        model->actions.onGoToSession = [this](int64_t pid) { calls.push_back("go:" + std::to_string(pid)); };
        model->actions.onOpenGlanceWindow = [this] { calls.push_back("glance"); };
        model->actions.onSettings = [this](std::optional<SettingsPane> pane) {
            calls.push_back("settings:" + std::string(pane ? toString(*pane) : std::string_view("none")));
        };
        view = new StatusDashboardView(*model);
        view->setClock([] { return Date(1000); });
        view->setHostScreen(nullptr);
        view->setScreenshotMode(false);
        popover = std::make_unique<PopoverWindow>();
        popover->setContent(new DashboardPanel(view));
        settle();
        popover->openAt(QPoint(40, 40));
        clearInitialFocus(popover.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(popover.get())) << "the popup never became the active window";
        settle();
    }
    void settle() {
        for (int i = 0; i < 3; ++i) {
            queue.drain();
            QCoreApplication::processEvents();
        }
    }
    QWidget* child(const char* name) const {
        QWidget* found = nullptr;
        // The first one shown (each agent row has its own buttons of one name).
        for (auto* widget : view->findChildren<QWidget*>(name))
            if (!found && widget->isVisibleTo(view)) found = widget;
        return found;
    }
    // Presses a key where the keyboard focus is and returns where it is then.
    QWidget* press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : popover.get();
        QTest::keyClick(target, key, modifiers);
        settle();
        return QApplication::focusWidget();
    }
    // Tabs from the popup's own focus to `stop`, failing when Tab never gets there.
    void focus(QWidget* stop) {
        for (int i = 0; i < 20 && QApplication::focusWidget() != stop; ++i) press(Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), stop);
    }
    static std::string nameOf(QWidget* widget) {
        if (!widget) return "nothing";
        if (qobject_cast<SessionRowView*>(widget)) return "card " + static_cast<SessionRowView*>(widget)->content().id;
        return widget->objectName().toStdString();
    }
};

std::vector<std::string> names(const std::vector<QWidget*>& widgets) {
    std::vector<std::string> result;
    for (auto* widget : widgets) result.push_back(Dashboard::nameOf(widget));
    return result;
}

// The controls in the order they are seen, Tab's stops in each state.
void expectTabOrder(Dashboard& d, const std::vector<QWidget*>& expected, const char* state) {
    ASSERT_EQ(QApplication::focusWidget(), d.popover.get()) << state << ": a control held the focus at opening";
    std::vector<QWidget*> forward;
    for (std::size_t i = 0; i <= expected.size(); ++i) forward.push_back(d.press(Qt::Key_Tab));
    std::vector<QWidget*> wrapped = expected;
    wrapped.push_back(expected.front());
    EXPECT_EQ(names(forward), names(wrapped)) << state;
    std::vector<QWidget*> back;
    for (std::size_t i = 0; i < expected.size(); ++i) back.push_back(d.press(Qt::Key_Tab, Qt::ShiftModifier));
    std::vector<QWidget*> reversed(expected.rbegin(), expected.rend());
    EXPECT_EQ(names(back), names(reversed)) << state;
}

TEST(DashboardKeyboardTests, TabWalksTheControlsAsTheyAreSeenAndShiftTabWalksBack) {
    {
        Dashboard d({session("s1"), session("s2")}, {"Hermes state database is locked"}, 1);
        d.view->setPendingUpdateVersion("2.0");
        d.settle();
        const auto rows = d.view->sessionRows();
        ASSERT_EQ(rows.size(), 2u);
        expectTabOrder(d,
                       {d.child("showFloatingWindow"), rows[0], rows[1], d.child("agentErrors"),
                        d.child("hiddenStaleSessions"), d.child("updateButton"), d.child("refreshButton"),
                        d.child("settingsButton"), d.child("quitButton")},
                       "sessions");
    }
    {
        Dashboard d({});
        expectTabOrder(d,
                       {d.child("showFloatingWindow"), d.child("showSampleData"), d.child("refreshButton"),
                        d.child("settingsButton"), d.child("quitButton")},
                       "no sessions");
        // The link shows its focus itself (the style draws a flat button
        // without a mark); pressed, the sample data brings the banner's
        // button first.
        QWidget* link = d.child("showSampleData");
        d.popover->setFocus();
        const QImage unfocused = link->grab().toImage();
        d.focus(link);
        EXPECT_NE(link->grab().toImage(), unfocused) << "the link shows no focus";
        d.press(Qt::Key_Space);
        ASSERT_TRUE(d.settings->isShowingSampleData());
        d.popover->setFocus();
        ASSERT_NE(d.child("turnOffSampleData"), nullptr);
        EXPECT_EQ(d.press(Qt::Key_Tab), d.child("turnOffSampleData"));
        EXPECT_EQ(d.press(Qt::Key_Tab), d.child("showFloatingWindow"));
        d.press(Qt::Key_Tab, Qt::ShiftModifier);
        d.press(Qt::Key_Return);
        EXPECT_FALSE(d.settings->isShowingSampleData());
    }
    {
        Dashboard d({}, {}, 0, {"codex"});
        expectTabOrder(d,
                       {d.child("showFloatingWindow"), d.child("emptyAllowAccess"), d.child("agentAllowAccess"),
                        d.child("refreshButton"), d.child("settingsButton"), d.child("quitButton")},
                       "no folder access");
    }
}

// Each control shows its focus (a grab differs from one without it) and takes
// Space, Return and Enter.
TEST(DashboardKeyboardTests, TheFocusedControlShowsItAndSpaceReturnAndEnterPressIt) {
    AgentSession withProcess = session("s1");
    withProcess.resourceUsage = SessionResourceUsage(77, std::nullopt, std::nullopt, 1);
    Dashboard d({withProcess}, {}, 1, {});
    struct Case {
        const char* control;
        Qt::Key key;
        std::string call;
    };
    const Case cases[] = {
        {"showFloatingWindow", Qt::Key_Space, "glance"},
        {"showFloatingWindow", Qt::Key_Return, "glance"},
        {"hiddenStaleSessions", Qt::Key_Enter, "settings:diagnostics"},
        {"refreshButton", Qt::Key_Return, "refresh"},
        {"settingsButton", Qt::Key_Space, "settings:none"},
        {"quitButton", Qt::Key_Enter, "quit"},
    };
    for (const auto& c : cases) {
        QWidget* control = d.child(c.control);
        d.popover->setFocus();
        const QImage unfocused = control->grab().toImage();
        d.focus(control);
        EXPECT_NE(control->grab().toImage(), unfocused) << c.control << " shows no focus";
        d.calls.clear();
        d.press(c.key, c.key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(d.calls, std::vector<std::string>{c.call}) << c.control << " " << c.key;
    }
    // Return and Enter on a card go to its session.
    SessionRowView* card = d.view->sessionRows().at(0);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        d.popover->setFocus();
        d.focus(card);
        d.calls.clear();
        d.press(key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(d.calls, std::vector<std::string>{"go:77"}) << key;
        EXPECT_FALSE(card->isMenuOpen());
    }
    // Space and the Menu key open its menu, under its title; Escape closes the
    // menu and leaves the dashboard open.
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Menu}) {
        d.popover->setFocus();
        const QImage unfocused = card->grab().toImage();
        d.focus(card);
        EXPECT_NE(card->grab().toImage(), unfocused) << "the card shows no focus";
        d.press(key);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr) << key;
        EXPECT_TRUE(card->isMenuOpen());
        EXPECT_TRUE(card->rect().contains(card->mapFromGlobal(menu->pos()))) << key;
        QTest::keyClick(menu, Qt::Key_Escape);
        EXPECT_TRUE(testing::runUntil([&] { return !card->isMenuOpen(); })) << "the menu stayed open";
        EXPECT_TRUE(d.popover->isVisible());
    }
}

// Tab from the header or the footer into a list taller than its scroll area
// lands on a control the list has scrolled into sight.
TEST(DashboardKeyboardTests, TabIntoTheListScrollsTheFocusedControlIntoSight) {
    std::vector<AgentSession> sessions;
    for (const char* id : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"}) sessions.push_back(session(id));
    Dashboard d(std::move(sessions), {}, 1);
    auto* scroll = d.view->findChild<QScrollArea*>("dashboardScroll");
    ASSERT_NE(scroll, nullptr);
    QScrollBar* bar = scroll->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "twelve cards fit the scroll area: nothing is out of sight";
    const auto inSight = [&](QWidget* widget) {
        return scroll->viewport()->rect().contains(
            QRect(widget->mapTo(scroll->viewport(), QPoint(0, 0)), widget->size()));
    };
    struct Case {
        const char* from;
        Qt::KeyboardModifiers modifiers;
        bool scrolledToTop;
        QWidget* lands;
    };
    const Case cases[] = {
        {"refreshButton", Qt::ShiftModifier, true, d.child("hiddenStaleSessions")},
        {"showFloatingWindow", Qt::NoModifier, false, d.view->sessionRows().front()},
    };
    for (const auto& c : cases) {
        d.popover->setFocus();
        d.focus(d.child(c.from));
        bar->setValue(c.scrolledToTop ? 0 : bar->maximum());
        ASSERT_FALSE(inSight(c.lands)) << Dashboard::nameOf(c.lands) << " is in sight before Tab";
        ASSERT_EQ(d.press(Qt::Key_Tab, c.modifiers), c.lands) << "from " << c.from;
        EXPECT_TRUE(inSight(c.lands)) << "Tab from " << c.from << " left " << Dashboard::nameOf(c.lands)
                                      << " out of sight (scrolled to " << bar->value() << " of " << bar->maximum()
                                      << ")";
    }
}

} // namespace
} // namespace brindleaf
