// The floating window's content over a real model, offscreen: the pulsing
// dot's place, the rounded clip and the header of a refresh that read nothing.
#include "core/ProviderCatalog.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/ElidedLabel.hpp"
#include "presentation/FloatingContentLayout.hpp"
#include "presentation/FloatingStatusContentView.hpp"
#include "presentation/SessionRowView.hpp"
#include "tests/presentation/GuiApplication.hpp"
#include "tests/presentation/ViewTestSupport.hpp"
#include "tests/support/FontconfigLeakSuppression.hpp"

#include <QApplication>
#include <QLayout>
#include <QScrollArea>

#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

AgentStatusSnapshot snapshotOf(std::vector<bool> waiting, AgentRunState state = AgentRunState::inProgress) {
    std::vector<AgentSession> sessions;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        std::string id = "s";
        id.append(std::to_string(i));
        sessions.push_back(AgentSession({.id = id,
                                         .provider = "Codex",
                                         .title = "Session",
                                         .evidence = "tool call running",
                                         .needsUserAttention = waiting[i]}));
    }
    return AgentStatusSnapshot::make(
        {ProviderSnapshot::make("Codex", std::nullopt, std::nullopt, std::move(sessions), 0, 1000,
                                state == AgentRunState::unknown ? std::vector<std::string>{"timed out"}
                                                                : std::vector<std::string>{})},
        1000, state);
}

struct Fixture {
    ManualMainQueue queue;
    std::shared_ptr<ProviderSettingsStore> settings =
        std::make_shared<ProviderSettingsStore>(UserDefaults::inMemory("floating-content-tests"));
    std::unique_ptr<StatusDashboardModel> model;
    std::unique_ptr<FloatingStatusContentView> content;

    explicit Fixture(AgentStatusSnapshot snapshot) {
        brindleaf::testing::ensureGuiApplication();
        model = std::make_unique<StatusDashboardModel>(queue, std::move(snapshot), settings,
                                                       std::make_shared<brindleaf::testing::FakeFolderAccess>(),
                                                       ClearedStaleBaselines{}, ProviderCatalog::all());
        content = std::make_unique<FloatingStatusContentView>(*model, nullptr, nullptr);
        content->setScreenshotMode(false);
        content->resize(400, 300);
        content->show();
        settle();
    }
    void settle() { brindleaf::testing::settle(queue); }
    template <typename T = QWidget>
    T* child(const char* name) const {
        return content->findChild<T*>(name);
    }
};

} // namespace

TEST(FloatingStatusContentView, PulsingDotSitsOnTheTilesTopRightCornerThenMovesOut) {
    Fixture f(snapshotOf({false}));
    auto* tile = f.child("moodTile");
    auto* dot = f.child("pulsingDot");
    ASSERT_FALSE(dot->isHidden());
    const QRect tileRect(tile->mapTo(f.content.get(), QPoint(0, 0)), tile->size());
    const QRect dotRect(dot->mapTo(f.content.get(), QPoint(0, 0)), dot->size());
    // The dot's top right corner 5 right of and 5 above the tile's.
    EXPECT_EQ(dotRect.right() - tileRect.right(), 5);
    EXPECT_EQ(dotRect.top() - tileRect.top(), -5);
    EXPECT_EQ(dotRect.size(), QSize(14, 14));
}

TEST(FloatingStatusContentView, ContentIsClippedToTheRoundedCorners) {
    std::vector<bool> many(20, false);
    Fixture f(snapshotOf(many));
    // The scroll area, with the cards and the scroll bar, fills the view.
    auto* scroll = f.content->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    for (const QSize size : {QSize(400, 300), QSize(500, 420)}) {
        f.content->resize(size);
        ASSERT_EQ(scroll->geometry(), f.content->rect());
        const QRegion mask = scroll->mask();
        const QRect r = scroll->rect();
        for (const QPoint corner :
             {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight(), r.bottomRight() - QPoint(3, 3)})
            EXPECT_FALSE(mask.contains(corner)) << corner.x() << "," << corner.y();
        for (const QPoint inside : {r.center(), QPoint(r.right(), r.center().y()), QPoint(r.right() - 15, r.bottom())})
            EXPECT_TRUE(mask.contains(inside)) << inside.x() << "," << inside.y();
    }
}

TEST(FloatingStatusContentView, ARefreshThatReadNothingIsNotShownAsIdle) {
    Fixture f(snapshotOf({}, AgentRunState::unknown));
    EXPECT_EQ(f.child<ElidedLabel>("floatingTitle")->text(), "Status Unavailable");
    EXPECT_EQ(f.child<ElidedLabel>("floatingSummary")->text(), "This computer couldn\u2019t read agent activity.");
    EXPECT_TRUE(f.child("pulsingDot")->isHidden());
}

TEST(FloatingStatusContentView, WaitingSessionsHaveAnOrangeDotAndActivityLine) {
    Fixture f(snapshotOf({false, true}));
    const auto rows = f.content->sessionRows();
    ASSERT_EQ(rows.size(), 2u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bool waiting = i == 1;
        EXPECT_EQ(rows[i]->findChild<ElidedLabel*>("sessionActivity")->color(),
                  ThemeColor::system(waiting ? ThemeColor::Role::orange : ThemeColor::Role::secondaryLabel));
        // The dot is the row's first item; its core is at its centre.
        QWidget* dot = rows[i]->layout()->itemAt(0)->widget();
        ASSERT_NE(dot, nullptr);
        const QImage image = dot->grab().toImage();
        const QColor core = image.pixelColor(image.width() / 2, image.height() / 2);
        const QColor expected = waiting ? SessionRowView::attentionColor() : dot->palette().color(QPalette::Highlight);
        EXPECT_NEAR(core.redF(), expected.redF(), 0.03) << i;
        EXPECT_NEAR(core.greenF(), expected.greenF(), 0.03) << i;
        EXPECT_NEAR(core.blueF(), expected.blueF(), 0.03) << i;
    }
}
