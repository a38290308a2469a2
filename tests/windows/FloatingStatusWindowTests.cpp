// The floating window's content, keys, placement, saved frame and closing, offscreen.
#include "core/ProviderCatalog.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/ElidedLabel.hpp"
#include "presentation/FloatingStatusContentView.hpp"
#include "presentation/SessionRowView.hpp"
#include "tests/support/FontconfigLeakSuppression.hpp"
#include "windows/FloatingStatusWindow.hpp"
#include "windows/FloatingStatusWindowController.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>

#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

void ensureApplication() {
    if (QApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "windows_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// Runs the event loop until the condition holds or 5 seconds have passed.
bool waitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 5000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class AllAccess final : public FolderAccessQuery {
public:
    bool hasMissingFolders(const std::string&) const override { return false; }
    bool hasAccess(const std::string&) const override { return true; }
};

AgentSession session(int index, bool waiting) {
    std::string id = "s";
    id.append(std::to_string(index));
    return AgentSession({.id = id,
                         .provider = "Claude Code",
                         .title = "Session",
                         .evidence = "open turn",
                         .needsUserAttention = waiting});
}

AgentStatusSnapshot snapshotOf(std::vector<AgentSession> sessions) {
    return AgentStatusSnapshot::make(
        {ProviderSnapshot::make("Claude Code", std::nullopt, std::nullopt, std::move(sessions), 0, 1000, {})}, 1000);
}

struct Fixture {
    ManualMainQueue queue;
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory("floating-window-tests");
    std::shared_ptr<ProviderSettingsStore> settings = std::make_shared<ProviderSettingsStore>(defaults);
    std::unique_ptr<StatusDashboardModel> model;

    explicit Fixture(AgentStatusSnapshot snapshot = {}) {
        ensureApplication();
        model =
            std::make_unique<StatusDashboardModel>(queue, std::move(snapshot), settings, std::make_shared<AllAccess>(),
                                                   ClearedStaleBaselines{}, ProviderCatalog::all());
    }
    void settle() {
        for (int i = 0; i < 3; ++i) {
            queue.drain();
            QCoreApplication::processEvents();
        }
    }
};

bool shown(QWidget* parent, const char* name) {
    auto* child = parent->findChild<QWidget*>(name);
    return child && !child->isHidden();
}

} // namespace

TEST(FloatingStatusContent, MoodTileDotAndSessions) {
    Fixture f;
    double reported = 0;
    int closes = 0;
    FloatingStatusContentView content(
        *f.model, [&] { ++closes; }, [&](double h) { reported = h; });
    content.setScreenshotMode(false);
    f.settle();
    EXPECT_EQ(content.findChild<QWidget*>("moodTile")->property("count").toLongLong(), 0);
    EXPECT_TRUE(shown(&content, "floatingEmpty"));
    EXPECT_FALSE(shown(&content, "pulsingDot"));
    EXPECT_EQ(content.findChild<ElidedLabel*>("floatingTitle")->text(), "Idle");
    EXPECT_GT(reported, 1);

    f.model->setSnapshot(snapshotOf({session(1, false), session(2, true)}));
    f.settle();
    EXPECT_EQ(content.findChild<QWidget*>("moodTile")->property("count").toLongLong(), 2);
    EXPECT_TRUE(shown(&content, "pulsingDot"));
    EXPECT_EQ(content.findChild<ElidedLabel*>("floatingSummary")->text(), "1 session running \u00B7 1 waiting for you");

    f.model->setSnapshot(snapshotOf({session(2, true)}));
    f.settle();
    EXPECT_FALSE(shown(&content, "pulsingDot"));
    EXPECT_EQ(content.findChild<ElidedLabel*>("floatingTitle")->text(), "Waiting for You");

    // Every session is listed, and the window hears the taller content.
    std::vector<AgentSession> twenty;
    for (int i = 0; i < 20; ++i) twenty.push_back(session(i, false));
    const double before = reported;
    f.model->setSnapshot(snapshotOf(twenty));
    f.settle();
    EXPECT_EQ(content.sessionRows().size(), 20u);
    EXPECT_GT(reported, before);

    // Sample data: the notice, unless in screenshot mode.
    f.settings->setShowingSampleData(true);
    f.settle();
    EXPECT_TRUE(shown(&content, "sampleDataNotice"));
    EXPECT_EQ(content.sessionRows().size(), 3u);
    content.setScreenshotMode(true);
    f.settle();
    EXPECT_FALSE(shown(&content, "sampleDataNotice"));

    content.findChild<QAbstractButton*>("floatingClose")->click();
    EXPECT_EQ(closes, 1);
}

TEST(FloatingStatusWindow, EscapeAndCtrlWClose) {
    ensureApplication();
    FloatingStatusWindow window(new QWidget, false);
    auto press = [&window](int key, Qt::KeyboardModifiers modifiers) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        event.ignore();
        QCoreApplication::sendEvent(&window, &event);
        return event.isAccepted();
    };
    EXPECT_TRUE(press(Qt::Key_Escape, Qt::NoModifier)); // taken even without a close action
    int closes = 0;
    window.onClose = [&] { ++closes; };
    press(Qt::Key_Escape, Qt::NoModifier);
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(press(Qt::Key_W, Qt::ControlModifier));
    EXPECT_EQ(closes, 2);
    press(Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
    press(Qt::Key_W, Qt::ControlModifier | Qt::AltModifier);
    press(Qt::Key_W, Qt::NoModifier);
    EXPECT_EQ(closes, 2);
}

TEST(FloatingStatusWindowController, PlacesSavesAndCloses) {
    Fixture f(snapshotOf({session(1, false)}));
    FloatingStatusWindowController controller(*f.model, f.defaults);
    // Too narrow a saved frame is ignored: the window opens under the anchor.
    f.defaults->set(FloatingStatusWindowController::frameKey, DefaultsValue(std::string("{{10, 20}, {199, 500}}")));
    controller.show(QRect(300, 0, 20, 20));
    ASSERT_TRUE(controller.isShown());
    const QRect placed = controller.window()->geometry();
    EXPECT_EQ(placed.width(), 600);
    EXPECT_EQ(placed.x() + placed.width() / 2, 310); // centred under the anchor
    EXPECT_EQ(placed.height(), int(controller.currentFitHeight()));

    // Fifty moves write the frame a few times at most.
    const std::size_t before = controller.framesSaved();
    for (int i = 0; i < 50; ++i) controller.window()->move(placed.x() + i, placed.y());
    EXPECT_LE(controller.framesSaved() - before, 2u);
    // The last position is saved soon after.
    std::string lastFrame = "{{";
    lastFrame.append(std::to_string(placed.x() + 49)).append(", ");
    ASSERT_TRUE(waitFor([&] {
        return f.defaults->string(FloatingStatusWindowController::frameKey).value_or("").starts_with(lastFrame);
    }));

    // Closing twice runs one fade; the window is gone when it ends.
    controller.hide();
    EXPECT_TRUE(controller.isAnimatingOut());
    EXPECT_FALSE(controller.isShown());
    controller.hide();
    ASSERT_TRUE(waitFor([&] { return controller.window() == nullptr; }));

    // The saved frame is used the next time.
    controller.show(std::nullopt);
    EXPECT_EQ(controller.window()->x(), placed.x() + 49);
    EXPECT_EQ(controller.window()->y(), placed.y());
}

TEST(FloatingStatusWindowController, ShowDuringTheFadeOutKeepsTheWindow) {
    Fixture f;
    FloatingStatusWindowController controller(*f.model, f.defaults);
    controller.show(std::nullopt);
    FloatingStatusWindow* window = controller.window();
    controller.hide();
    ASSERT_TRUE(controller.isAnimatingOut());
    controller.show(std::nullopt);
    EXPECT_TRUE(controller.isShown());
    // Well past the end of the fade, the same window is still shown.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 2 * FloatingStatusWindowController::fadeOutMs + 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(controller.window(), window);
    EXPECT_TRUE(controller.isShown());
    EXPECT_DOUBLE_EQ(window->windowOpacity(), 1.0);
}

TEST(FloatingStatusWindowController, TheHeightFollowsTheContent) {
    Fixture f;
    FloatingStatusWindowController controller(*f.model, f.defaults);
    controller.show(std::nullopt);
    const int small = controller.window()->height();
    std::vector<AgentSession> sessions;
    for (int i = 0; i < 6; ++i) sessions.push_back(session(i, false));
    f.model->setSnapshot(snapshotOf(sessions));
    f.settle();
    ASSERT_TRUE(waitFor([&] { return controller.window()->height() > small; }));
    const double fitted = controller.currentFitHeight();
    ASSERT_TRUE(waitFor([&] { return controller.window()->height() == int(fitted); }));
    // A drag of the bottom edge does not change the height.
    controller.window()->resize(controller.window()->width() + 40, int(fitted) + 100);
    EXPECT_EQ(controller.window()->height(), int(fitted));
    EXPECT_EQ(controller.window()->width(), 640);
}

#include "tests/windows/ScrolledListCheck.hpp"

// Scrolling the session list leaves nothing behind: after each step the
// window looks as one opened at that place does.
TEST(FloatingStatusWindow, ScrolledListIsPaintedWhole) {
    std::vector<AgentSession> many;
    for (int i = 0; i < 30; ++i) many.push_back(session(i, i % 3 == 0));
    Fixture f(snapshotOf(many));
    // Offscreen windows have no alpha channel: the masked chrome, as without a compositor.
    EXPECT_TRUE(brindleaf::testing::scrollsWhole(*f.model, false, [&] { f.settle(); }));
}
