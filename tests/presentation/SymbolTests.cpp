#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"
#include "presentation/ProviderBadge.hpp"
#include "presentation/SymbolCatalog.hpp"
#include "presentation/Symbols.hpp"
#include "tests/presentation/GuiApplication.hpp"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

// Pixels with any coverage, and whether all of them carry the colour.
std::pair<int, bool> coverage(const QImage& image, QColor colour) {
    int covered = 0;
    bool allTinted = true;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QColor c = argb.pixelColor(x, y);
            if (c.alpha() == 0) continue;
            ++covered;
            if (c.alpha() > 128 && (std::abs(c.red() - colour.red()) > 2 || std::abs(c.green() - colour.green()) > 2 ||
                                    std::abs(c.blue() - colour.blue()) > 2))
                allTinted = false;
        }
    return {covered, allTinted};
}

} // namespace

TEST(Symbols, EveryNamedSymbolIsDrawnInItsTint) {
    brindleaf::testing::ensureGuiApplication();
    const QColor orange(255, 149, 0);
    for (auto name : symbolNames) {
        ASSERT_TRUE(Symbols::exists(name)) << name;
        const QImage image = Symbols::image(name, QSizeF(16, 16), orange, 2);
        EXPECT_EQ(image.size(), QSize(32, 32)) << name;
        EXPECT_EQ(image.devicePixelRatio(), 2);
        const auto [covered, tinted] = coverage(image, orange);
        EXPECT_GT(covered, 32) << name;
        EXPECT_LT(covered, 32 * 32) << name;
        EXPECT_TRUE(tinted) << name;
    }
}

TEST(Symbols, UnknownNameDrawsAnEmptyFrameAndLogsOnce) {
    brindleaf::testing::ensureGuiApplication();
    auto sink = std::make_shared<MemoryLogSink>();
    Logger::setSink(sink);
    const QImage first = Symbols::image("no.such.symbol", QSizeF(20, 20), Qt::black);
    Symbols::image("no.such.symbol", QSizeF(24, 24), Qt::red);
    Logger::setSink(nullptr);
    EXPECT_EQ(first.size(), QSize(20, 20));
    // A frame: the centre is empty, the outline is not.
    EXPECT_EQ(first.pixelColor(10, 10).alpha(), 0);
    EXPECT_GT(coverage(first, Qt::black).first, 20);
    int lines = 0;
    for (const auto& message : sink->messages())
        if (message.find("symbol.missing name=no.such.symbol") != std::string::npos) ++lines;
    EXPECT_EQ(lines, 1);
}

TEST(ProviderBadge, IdealSizeHoldsTheNameWithPadding) {
    brindleaf::testing::ensureGuiApplication();
    QFont font;
    font.setPixelSize(11);
    ProviderBadge badge("Claude Code", font);
    const QSize size = badge.sizeHint();
    EXPECT_GE(size.width(), QFontMetrics(font).horizontalAdvance("Claude Code") + 14);
    EXPECT_GE(size.height(), QFontMetrics(font).height() + 4);
    EXPECT_EQ(badge.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
}
