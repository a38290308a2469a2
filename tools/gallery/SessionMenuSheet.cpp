// A session card's context menu: "Go to Session" enabled, and disabled with
// the reason the check gave as its tooltip (drawn under the menu).
#include "core/AgentSession.hpp"
#include "presentation/SessionGoToItem.hpp"
#include "presentation/SessionRowContent.hpp"
#include "presentation/SessionRowView.hpp"
#include "tools/gallery/GalleryRegistry.hpp"

#include <QApplication>
#include <QMenu>
#include <QPainter>

namespace brindleaf::gallery {

namespace {

void renderSessionMenus(GalleryOutput& output) {
    const AgentSession session({.id = "s-1",
                                .provider = "Claude Code",
                                .title = "Fix the parser",
                                .cwd = "/home/ada/parser",
                                .evidence = "waiting for permission",
                                .needsUserAttention = true,
                                .resourceUsage = SessionResourceUsage(4242, 12.0, 200 << 20, 2)});
    const SessionRowContent content = SessionRowContent::make(session, GalleryOutput::fixedNow);
    struct Case {
        const char* name;
        SessionJumpCheck check;
    } cases[] = {{"session-menu/can-go", {true, ""}}, {"session-menu/detached", {false, SessionJumper::tmuxDetached}}};
    for (const auto& c : cases) {
        SessionRowActions actions;
        actions.check = [check = c.check](int64_t, std::function<void(SessionJumpCheck)> answer) { answer(check); };
        SessionRowView row(content, nullptr, actions);
        row.resize(320, 90);
        QMenu* menu = row.showContextMenu(QPoint(0, 0));
        QApplication::processEvents();
        const QImage menuImage = menu->grab().toImage();
        QAction* goTo = menu->actions().front();
        const QString tip = goTo->isEnabled() ? QStringLiteral("(enabled, no tooltip)") : goTo->toolTip();
        QImage sheet(QSize(std::max(menuImage.width(), 420), menuImage.height() + 30), QImage::Format_ARGB32);
        sheet.fill(menu->palette().color(QPalette::Window));
        QPainter painter(&sheet);
        painter.drawImage(0, 0, menuImage);
        painter.setPen(menu->palette().color(QPalette::WindowText));
        painter.drawText(QRect(6, menuImage.height() + 4, sheet.width() - 12, 22), Qt::AlignLeft | Qt::AlignVCenter,
                         "Tooltip: " + tip);
        painter.end();
        output.savePNG(c.name, sheet);
        menu->close();
        delete menu;
    }
}

const bool registered = registerGalleryPage({"session-menu", renderSessionMenus});

} // namespace

} // namespace brindleaf::gallery
