// Real screenshots of the tray application: the built `brindleaf` in an
// isolated home on a private X server (tools/with-xvfb.sh) with an XEmbed tray
// host (trayer): the idle and working icons, and the popup a click opens.
#include "tools/gallery/GalleryRegistry.hpp"
#include "tools/gallery/TrayDesktopSession.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>

namespace brindleaf::gallery {

namespace {

const QString pageName = QStringLiteral("tray-desktop");

void saveShot(GalleryOutput& output, const QString& name, QRect area) {
    const QImage shot = TrayDesktopSession::grab(area);
    output.savePNG("tray/" + name, shot);
    output.savePNG("tray/" + name + "@4x", shot.scaled(shot.size() * 4, Qt::KeepAspectRatio, Qt::FastTransformation));
}

void shoot(GalleryOutput& output) {
    TrayDesktopSession session;
    if (!session.launch()) return;
    const QRect panel = *session.panel();
    const QRect icon = *session.icon();
    QThread::msleep(2000); // the first snapshot
    const QImage idle = TrayDesktopSession::grab(icon);
    saveShot(output, QStringLiteral("idle"), panel);
    session.writeWorkingClaudeSession();
    // The next poll starts the animation.
    TrayDesktopSession::waitForChange(icon, idle);
    saveShot(output, QStringLiteral("working"), panel);
    // A click on the icon opens the popup under it.
    TrayDesktopSession::click(icon.center());
    if (TrayDesktopSession::waitFor(
            [] { return TrayDesktopSession::window(QStringLiteral("Brindleaf Dashboard")).has_value(); })) {
        QThread::msleep(500);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        output.savePNG(QStringLiteral("tray/popover-click"),
                       TrayDesktopSession::grab(QRect(screen.right() - 479, 0, 480, 240)));
    }
}

void render(GalleryOutput& output) { TrayDesktopSession::runOnX(pageName, output, shoot); }

const bool registered = registerGalleryPage({pageName.toStdString(), render});

} // namespace

} // namespace brindleaf::gallery
