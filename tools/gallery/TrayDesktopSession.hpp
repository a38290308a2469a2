#pragma once

#include "tools/gallery/GalleryRegistry.hpp"

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

namespace brindleaf::gallery {

// The built tray application on the gallery's own X server, for real
// screenshots: an isolated home (user database, XDG folders, runtime folder),
// an XEmbed tray host (trayer) on a plain desktop, and xdotool to drive it.
class TrayDesktopSession {
public:
    // Whether the home's settings say the first-run welcome was shown; unless
    // they do, every launch opens the welcome window half a second after start.
    enum class Welcome { alreadyShown, due };

    // `trayerLook`: more of trayer's arguments (its tint, say).
    explicit TrayDesktopSession(Welcome welcome = Welcome::alreadyShown, int trayWidth = 120,
                                const QStringList& trayerLook = {});

    // Runs `shoot` on an X server: at once when the gallery already runs on
    // one, else in a copy of the gallery started inside tools/with-xvfb.sh
    // that renders only this page (the gallery itself draws off screen).
    static void runOnX(const QString& pageName, GalleryOutput& output,
                       const std::function<void(GalleryOutput&)>& shoot);
    ~TrayDesktopSession();

    const QString& home() const { return home_; }

    // Starts the application and waits until its icon sits in the tray host.
    bool launch(const QStringList& arguments = {});
    // Ends the application and waits until its icon is gone.
    void stop();

    // The tray host's panel, once the application's icon sits in it.
    std::optional<QRect> panel() const;
    // The application's icon in the panel.
    std::optional<QRect> icon() const;
    // The application's mapped window with this exact title; with its window
    // manager frame when `withFrame`.
    static std::optional<QRect> window(const QString& title, bool withFrame = true);

    static QImage grab(QRect area);
    // Waits until `area` looks different from `before`, then until it keeps
    // still (between animation frames it may not); false when it never changed.
    static bool waitForChange(QRect area, const QImage& before, int milliseconds = 20000);
    static bool waitFor(const std::function<bool()>& condition, int milliseconds = 20000);
    static void click(QPoint point);
    static void key(const QString& keys);
    static QString run(const QString& program, const QStringList& arguments);

    // A Claude Code session whose assistant turn runs a tool, written just now.
    void writeWorkingClaudeSession() const;
    // A Claude Code session whose assistant turn asks the user a question,
    // with a stand-in engine process ("claude") in its folder: a question is
    // only shown while its engine runs.
    void writeWaitingClaudeSession();

private:
    void writeClaudeTranscript(const QString& id, const QString& project, const std::string& lines) const;

    QTemporaryDir root_;
    QString home_;
    QProcess trayer_;
    std::unique_ptr<QProcess> app_;
    QProcess engine_;
};

} // namespace brindleaf::gallery
