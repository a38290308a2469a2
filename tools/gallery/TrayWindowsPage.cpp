// Real screenshots of the windows the tray application opens, on a private X
// server with an XEmbed tray host: the waiting icon, the popup a click on the
// icon opens, the floating window of hot key 2, settings opened by a launch
// flag, and the welcome of a first run.
#include "tools/gallery/GalleryRegistry.hpp"
#include "tools/gallery/TrayDesktopSession.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <cstdio>

namespace brindleaf::gallery {

namespace {

const QString pageName = QStringLiteral("tray-windows");
// Around a window: a little of the desktop, and the panel above it.
constexpr int margin = 16;

void saveWindow(GalleryOutput& output, const QString& name, const QString& title, std::optional<QRect> alsoShow = {}) {
    const auto window = TrayDesktopSession::window(title);
    if (!window) {
        std::fprintf(stderr, "brindleaf-gallery: no window \"%s\" for %s\n", qPrintable(title), qPrintable(name));
        return;
    }
    QRect area = window->adjusted(-margin, -margin, margin, margin);
    if (alsoShow) area = area.united(alsoShow->adjusted(-margin, 0, margin, 0));
    area = area.intersected(QGuiApplication::primaryScreen()->geometry());
    output.savePNG("tray/" + name, TrayDesktopSession::grab(area));
}

bool waitForWindow(const QString& title) {
    return TrayDesktopSession::waitFor([&] { return TrayDesktopSession::window(title).has_value(); });
}

void shootWelcome(GalleryOutput& output) {
    TrayDesktopSession session(TrayDesktopSession::Welcome::due);
    if (!session.launch()) return;
    if (waitForWindow(QStringLiteral("Welcome to Brindleaf"))) {
        QThread::msleep(500);
        saveWindow(output, QStringLiteral("welcome"), QStringLiteral("Welcome to Brindleaf"));
    }
}

void shootSettings(GalleryOutput& output) {
    TrayDesktopSession session;
    if (!session.launch({QStringLiteral("--show-settings=agents")})) return;
    if (waitForWindow(QStringLiteral("Agents"))) {
        QThread::msleep(500);
        saveWindow(output, QStringLiteral("settings-agents"), QStringLiteral("Agents"));
    }
}

// One session waiting for the user, then one more working: the waiting icon,
// the popup with both, the floating window.
void shootSessions(GalleryOutput& output) {
    TrayDesktopSession session;
    if (!session.launch()) return;
    const QRect panel = *session.panel();
    const QRect icon = *session.icon();
    QThread::msleep(2000); // the first snapshot
    const QImage idle = TrayDesktopSession::grab(icon);
    session.writeWaitingClaudeSession();
    if (!TrayDesktopSession::waitForChange(icon, idle))
        std::fprintf(stderr, "brindleaf-gallery: the icon did not change for the waiting session\n");
    const QImage waiting = TrayDesktopSession::grab(panel);
    output.savePNG(QStringLiteral("tray/waiting"), waiting);
    output.savePNG(QStringLiteral("tray/waiting@4x"),
                   waiting.scaled(waiting.size() * 4, Qt::KeepAspectRatio, Qt::FastTransformation));

    session.writeWorkingClaudeSession();
    const QImage waitingIcon = TrayDesktopSession::grab(icon);
    TrayDesktopSession::waitForChange(icon, waitingIcon);
    TrayDesktopSession::click(icon.center());
    if (waitForWindow(QStringLiteral("Brindleaf Dashboard"))) {
        QThread::msleep(500);
        saveWindow(output, QStringLiteral("popup"), QStringLiteral("Brindleaf Dashboard"), panel);
    }
    // Hot key 1 closes the popup, hot key 2 (control, option, command and A) opens the floating window.
    TrayDesktopSession::key(QStringLiteral("ctrl+alt+super+s"));
    TrayDesktopSession::waitFor([] { return !TrayDesktopSession::window(QStringLiteral("Brindleaf Dashboard")); });
    TrayDesktopSession::key(QStringLiteral("ctrl+alt+super+a"));
    if (waitForWindow(QStringLiteral("Brindleaf"))) {
        QThread::msleep(800); // its fade-in
        saveWindow(output, QStringLiteral("floating"), QStringLiteral("Brindleaf"), panel);
    }
}

void shoot(GalleryOutput& output) {
    shootWelcome(output);
    shootSettings(output);
    shootSessions(output);
}

void render(GalleryOutput& output) { TrayDesktopSession::runOnX(pageName, output, shoot); }

const bool registered = registerGalleryPage({pageName.toStdString(), render});

} // namespace

} // namespace brindleaf::gallery
