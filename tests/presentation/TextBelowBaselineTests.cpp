// The one-line labels of the cards, the dashboard and the floating window keep
// what a text draws below its baseline ("_", "g", "j", "y"): each label,
// rendered offscreen, holds every row of ink the same text has when drawn
// freely.
#include "core/ProviderCatalog.hpp"
#include "platform/ManualMainQueue.hpp"
#include "presentation/ElidedLabel.hpp"
#include "presentation/FloatingStatusContentView.hpp"
#include "presentation/PlatformStyle.hpp"
#include "presentation/StatusDashboardView.hpp"
#include "presentation/TextLineLayout.hpp"
#include "tests/presentation/GuiApplication.hpp"
#include "tests/presentation/ViewTestSupport.hpp"
#include "tests/support/FontconfigLeakSuppression.hpp"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

using namespace brindleaf;
using TextLineLayout::VerticalPlace;

TEST(TextLineLayout, RoundsTheAscentAndTheDescentUpToWholeRows) {
    struct Case {
        double ascent, descent;
        int height, baseline;
    };
    const Case cases[] = {
        {9.28, 2.36, 13, 10},                         // a 10-pixel sans: the descent's third row holds the underscore
        {12, 3, 15, 12},      {12.01, 3.005, 15, 12}, // less than a 64th of a row over is no row
        {0, 0, 0, 0},         {std::numeric_limits<double>::quiet_NaN(), 2.5, 3, 0},
    };
    for (const auto& c : cases) {
        const auto line = TextLineLayout::line(c.ascent, c.descent);
        EXPECT_EQ(line.height, c.height) << c.ascent << " " << c.descent;
        EXPECT_EQ(line.baseline, c.baseline) << c.ascent << " " << c.descent;
    }
    const TextLineLayout::Line line{13, 10};
    EXPECT_EQ(TextLineLayout::baselineIn(line, 13, VerticalPlace::centre), 10);
    EXPECT_EQ(TextLineLayout::baselineIn(line, 16, VerticalPlace::centre), 11);
    EXPECT_EQ(TextLineLayout::baselineIn(line, 16, VerticalPlace::top), 10);
    EXPECT_EQ(TextLineLayout::baselineIn(line, 16, VerticalPlace::bottom), 13);
    EXPECT_EQ(TextLineLayout::baselineIn(line, 8, VerticalPlace::bottom), 10);
}

namespace {

const QString probe = QStringLiteral("ml_models-7 jolly gym");

// The number of inked pixels of each row, from the first inked row to the last.
std::vector<int> inkRows(const QImage& image) {
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        int count = 0;
        for (int x = 0; x < image.width(); ++x) count += qAlpha(image.pixel(x, y)) > 0;
        rows.push_back(count);
    }
    while (!rows.empty() && rows.back() == 0) rows.pop_back();
    auto first = rows.begin();
    while (first != rows.end() && *first == 0) ++first;
    return {first, rows.end()};
}

QImage transparentImage(QSize size, int ratio) {
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    return image;
}

// The label as it paints itself, without any background.
QImage labelInk(ElidedLabel& label, int ratio) {
    QImage image = transparentImage(label.size(), ratio);
    label.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

// The label's text drawn in the label's font and colour with room all round.
QImage freeInk(const ElidedLabel& label, int ratio) {
    const QFontMetrics metrics(label.font());
    const QString text = label.shownText();
    QImage image = transparentImage(QSize(metrics.horizontalAdvance(text) + 20, 3 * metrics.height()), ratio);
    QPainter painter(&image);
    painter.setFont(label.font());
    painter.setPen(PlatformStyle::color(label.color(), label.palette()));
    painter.drawText(QPoint(10, metrics.height() + metrics.ascent()), text);
    return image;
}

AgentSession probeSession(std::string id, bool waiting) {
    return AgentSession(
        {.id = std::move(id),
         .provider = "Codex",
         .parentAgentNickname = "jolly_gym",
         .title = "Tidy the ml_models-7 jig",
         .cwd = "/home/dana/src/ml_models-7",
         .lastActivityAt = 990,
         .evidence = "tool call running",
         .needsUserAttention = waiting,
         .resourceUsage = SessionResourceUsage(4242, 12.5, 64 << 20, 2),
         .runtimeProfile = SessionRuntimeProfile("gpt-5-codex", "high", SessionRuntimeProfileSource::codexThreadStore),
         .backgroundTaskSummary = "npm run typecheck"});
}

struct Surfaces {
    ManualMainQueue queue;
    std::shared_ptr<ProviderSettingsStore> settings =
        std::make_shared<ProviderSettingsStore>(UserDefaults::inMemory("text-below-baseline-tests"));
    std::unique_ptr<StatusDashboardModel> model;
    std::unique_ptr<StatusDashboardView> dashboard;
    std::unique_ptr<FloatingStatusContentView> floating;

    Surfaces() {
        brindleaf::testing::ensureGuiApplication();
        auto snapshot = AgentStatusSnapshot::make(
            {ProviderSnapshot::make("Codex", std::nullopt, std::nullopt,
                                    {probeSession("a", false), probeSession("b", true)}, 1, 1000, {})},
            1000);
        model = std::make_unique<StatusDashboardModel>(queue, std::move(snapshot), settings,
                                                       std::make_shared<brindleaf::testing::FakeFolderAccess>(),
                                                       ClearedStaleBaselines{}, ProviderCatalog::all());
        dashboard = std::make_unique<StatusDashboardView>(*model);
        dashboard->setClock([] { return Date(1000); });
        dashboard->setHostScreen(nullptr);
        floating = std::make_unique<FloatingStatusContentView>(*model, nullptr, nullptr);
        floating->setClock([] { return Date(1000); });
        floating->resize(420, 900);
        dashboard->show();
        floating->show();
        brindleaf::testing::settle(queue);
    }
};

} // namespace

TEST(TextBelowBaseline, EveryLabelOfTheCardsHeadersAndAgentRowsKeepsItsDescenders) {
    Surfaces s;
    std::vector<ElidedLabel*> labels;
    for (QWidget* surface : {static_cast<QWidget*>(s.dashboard.get()), static_cast<QWidget*>(s.floating.get())})
        for (auto* label : surface->findChildren<ElidedLabel*>())
            if (label->isVisibleTo(surface)) labels.push_back(label);
    // Every label gets the probe, whatever it says by itself.
    for (auto* label : labels) label->setText(probe);
    brindleaf::testing::settle(s.queue);

    std::set<QString> named;
    for (auto* label : labels) {
        if (!label->objectName().isEmpty()) named.insert(label->objectName());
        ASSERT_TRUE(label->shownText().contains('_')) << label->objectName().toStdString() << " is too narrow";
        for (const int ratio : {1, 2}) {
            const auto drawn = inkRows(labelInk(*label, ratio));
            const auto free = inkRows(freeInk(*label, ratio));
            ASSERT_FALSE(free.empty());
            EXPECT_EQ(drawn, free) << label->objectName().toStdString() << " (" << label->font().pixelSize()
                                   << " px) at " << ratio << "x is cut";
        }
    }
    for (const char* name : {"sessionTitle", "sessionActivity", "sessionDetail", "heroTitle", "heroSummary",
                             "agentCount", "hiddenStaleCount", "updatedTime", "floatingTitle", "floatingSummary"})
        EXPECT_TRUE(named.count(name)) << name << " was not checked";
}
