// Real screenshots of the tray application: the built `brindleaf` in an
// isolated home on a private X server (tools/with-xvfb.sh) with an XEmbed tray
// host (trayer). The gallery itself draws off screen, so this page runs the
// gallery again on that X server for itself.
#include "tools/gallery/GalleryRegistry.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <ctime>
#include <optional>
#include <unistd.h>

namespace brindleaf::gallery {

namespace {

const QString pageName = QStringLiteral("tray-desktop");

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(20000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

bool waitFor(const std::function<bool()>& condition, int milliseconds = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds) return false;
        QThread::msleep(100);
    }
    return true;
}

// trayer's panel on the screen, once the application's icon sits in it.
std::optional<QRect> panelWithIcon() {
    const QString tree = run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    static const QRegularExpression panel(
        QStringLiteral(R"re("panel": \("panel" "trayer"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re"));
    auto match = panel.match(tree);
    if (!match.hasMatch() || !tree.contains(QStringLiteral("(\"brindleaf\" \"brindleaf\")"))) return std::nullopt;
    return QRect(match.captured(3).toInt(), match.captured(4).toInt(), match.captured(1).toInt(),
                 match.captured(2).toInt());
}

std::string isoTimestamp(int secondsAgo) {
    std::time_t now = std::time(nullptr) - secondsAgo;
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
    return buffer;
}

// A Claude Code session whose assistant turn runs a tool, written just now.
void writeWorkingSession(const QString& home) {
    const std::string id = "33333333-cccc-4ccc-8ccc-333333333333";
    const std::string cwd = (home + "/src/gamma").toStdString();
    std::string text;
    text += R"({"type":"ai-title","aiTitle":"Gamma release","sessionId":")" + id + "\"}\n";
    text += R"({"type":"user","sessionId":")" + id + R"(","cwd":")" + cwd + R"(","timestamp":")" + isoTimestamp(3) +
            R"(","message":{"role":"user","content":"Please fix the build"}})"
            "\n";
    text += R"({"type":"assistant","sessionId":")" + id + R"(","cwd":")" + cwd + R"(","timestamp":")" +
            isoTimestamp(1) + R"(","message":{"role":"assistant","model":"claude-opus-4-1","content":[)" +
            R"({"type":"tool_use","id":"toolu_1","name":"Bash","input":{"command":"make"}}]}})"
            "\n";
    const QString folder = home + "/.claude/projects/-src-gamma";
    QDir().mkpath(folder);
    QFile file(folder + "/" + QString::fromStdString(id) + ".jsonl");
    if (file.open(QIODevice::WriteOnly)) file.write(text.data(), static_cast<qint64>(text.size()));
}

void saveShot(GalleryOutput& output, const QString& name, QRect area) {
    const QImage shot =
        QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
    output.savePNG("tray/" + name, shot);
    output.savePNG("tray/" + name + "@4x", shot.scaled(shot.size() * 4, Qt::KeepAspectRatio, Qt::FastTransformation));
}

// On the X server: trayer, then the application, then the shots.
void shootOnX(GalleryOutput& output) {
    QTemporaryDir root;
    const QString home = root.path() + "/home";
    for (const char* folder : {"home", "config", "data", "cache", "run"}) QDir().mkpath(root.path() + "/" + folder);
    QFile::setPermissions(root.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile passwd(root.path() + "/passwd");
    if (passwd.open(QIODevice::WriteOnly))
        passwd.write(
            QStringLiteral("tester:x:%1:%2:Tester:%3:/bin/sh\n").arg(::getuid()).arg(::getgid()).arg(home).toUtf8());
    passwd.close();

    QProcess trayer;
    trayer.start(QStringLiteral("trayer"),
                 {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120", "--height", "26"});
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root.path() + "/config");
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root.path() + "/data");
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), root.path() + "/cache");
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.path() + "/run");
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral("libnss_wrapper.so"));
    environment.insert(QStringLiteral("NSS_WRAPPER_PASSWD"), root.path() + "/passwd");
    environment.insert(QStringLiteral("NSS_WRAPPER_GROUP"), QStringLiteral("/etc/group"));
    environment.insert(QStringLiteral("NSS_WRAPPER_DISABLE_DEEPBIND"), QStringLiteral("1"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0:detect_leaks=0"));
    QProcess app;
    app.setProcessEnvironment(environment);
    app.start(QCoreApplication::applicationDirPath() + "/../app/brindleaf", {});

    std::optional<QRect> panel;
    if (!waitFor([&] { return (panel = panelWithIcon()).has_value(); })) {
        std::fprintf(stderr, "brindleaf-gallery: the tray icon did not appear\n");
    } else {
        QThread::msleep(2000); // the first snapshot
        saveShot(output, QStringLiteral("idle"), *panel);
        writeWorkingSession(home);
        QThread::msleep(5000); // the next poll and a few frames
        saveShot(output, QStringLiteral("working"), *panel);
        // A click on the icon opens the popup under it.
        const QRect icon(panel->right() - 24, panel->y(), 24, panel->height());
        run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(icon.center().x()), QString::number(icon.center().y()),
             QStringLiteral("click"), QStringLiteral("1")});
        const bool opened = waitFor([] {
            return !run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                    QStringLiteral("--name"), QStringLiteral("^Brindleaf Dashboard$")})
                        .trimmed()
                        .isEmpty();
        });
        if (opened) {
            QThread::msleep(500);
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            const QImage shot =
                QGuiApplication::primaryScreen()->grabWindow(0, screen.right() - 479, 0, 480, 240).toImage();
            output.savePNG(QStringLiteral("tray/popover-click"), shot);
        }
    }
    app.terminate();
    app.waitForFinished(5000);
    trayer.terminate();
    trayer.waitForFinished(5000);
}

void render(GalleryOutput& output) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        shootOnX(output);
        return;
    }
    QProcess child;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(BRINDLEAF_SOURCE_DIR "/tools/with-xvfb.sh"),
                {QStringLiteral("env"), QStringLiteral("QT_QPA_PLATFORM=xcb"), QCoreApplication::applicationFilePath(),
                 "--out", output.directory(), "--only=" + pageName});
    if (!child.waitForFinished(180000)) std::fprintf(stderr, "brindleaf-gallery: the tray screenshots timed out\n");
}

const bool registered = registerGalleryPage({pageName.toStdString(), render});

} // namespace

} // namespace brindleaf::gallery
