// Real screenshots of the tray icon on a dark and a light panel: the built
// `brindleaf` beside trayer tinted #303030 and #e8e8e8 (tools/with-xvfb.sh),
// idle, waiting and working. The icon's tint follows the panel it sits in.
#include "tools/gallery/GalleryRegistry.hpp"
#include "tools/gallery/TrayDesktopSession.hpp"

#include <QPainter>
#include <QThread>

namespace brindleaf::gallery {

namespace {

const QString pageName = QStringLiteral("tray-panels");

void shoot(GalleryOutput& output) {
    struct Row {
        QString name;
        QImage idle, waiting, working;
    };
    std::vector<Row> rows;
    for (const auto& [name, tint] : {std::pair{QStringLiteral("dark"), QStringLiteral("0x303030")},
                                     std::pair{QStringLiteral("light"), QStringLiteral("0xe8e8e8")}}) {
        TrayDesktopSession session(TrayDesktopSession::Welcome::alreadyShown, 120,
                                   {"--transparent", "true", "--tint", tint, "--alpha", "0"});
        if (!session.launch()) return;
        const QRect panel = *session.panel();
        const QRect icon = *session.icon();
        // The panel is read at the refresh after the icon docks (every 4.5 s while idle).
        QThread::msleep(6000);
        Row row{name, TrayDesktopSession::grab(panel), {}, {}};
        session.writeWaitingClaudeSession();
        TrayDesktopSession::waitForChange(icon, TrayDesktopSession::grab(icon));
        row.waiting = TrayDesktopSession::grab(panel);
        session.writeWorkingClaudeSession();
        TrayDesktopSession::waitForChange(icon, TrayDesktopSession::grab(icon));
        row.working = TrayDesktopSession::grab(panel);
        for (const auto& [state, shot] :
             {std::pair{"idle", &row.idle}, {"waiting", &row.waiting}, {"working", &row.working}})
            output.savePNG(QStringLiteral("tray/panel-%1-%2").arg(name, state), *shot);
        rows.push_back(std::move(row));
    }
    // One sheet: a row per panel, the three states side by side, at 4x.
    constexpr int scale = 4, gap = 8;
    const QSize shot = rows.front().idle.size() * scale;
    QImage sheet(QSize(3 * shot.width() + 4 * gap, int(rows.size()) * (shot.height() + gap) + gap),
                 QImage::Format_RGB32);
    sheet.fill(QColor(0x4a, 0x5f, 0x74));
    QPainter painter(&sheet);
    int y = gap;
    for (const auto& row : rows) {
        int x = gap;
        for (const QImage* image : {&row.idle, &row.waiting, &row.working}) {
            painter.drawImage(QRect(QPoint(x, y), shot),
                              image->scaled(shot, Qt::KeepAspectRatio, Qt::FastTransformation));
            x += shot.width() + gap;
        }
        y += shot.height() + gap;
    }
    painter.end();
    output.savePNG(QStringLiteral("tray/panels-dark-light@4x"), sheet);
}

void render(GalleryOutput& output) { TrayDesktopSession::runOnX(pageName, output, shoot); }

const bool registered = registerGalleryPage({pageName.toStdString(), render});

} // namespace

} // namespace brindleaf::gallery
