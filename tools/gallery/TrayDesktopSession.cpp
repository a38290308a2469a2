#include "tools/gallery/TrayDesktopSession.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace brindleaf::gallery {

namespace {

// A plain desktop colour instead of the server's black root window (the
// windows on it stay as they are).
void paintDesktop() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (!xcb_connection_has_error(connection)) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        xcb_alloc_color_reply_t* color = xcb_alloc_color_reply(
            connection, xcb_alloc_color(connection, screen->default_colormap, 0x4a00, 0x5f00, 0x7400), nullptr);
        if (color) {
            const std::uint32_t pixel = color->pixel;
            xcb_change_window_attributes(connection, screen->root, XCB_CW_BACK_PIXEL, &pixel);
            xcb_clear_area(connection, 0, screen->root, 0, 0, 0, 0);
            std::free(color);
        }
        // A round trip before hanging up: the server drops the requests of a
        // client that hung up which it has not read yet.
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }
    xcb_disconnect(connection);
}

std::string isoTimestamp(int secondsAgo) {
    std::time_t now = std::time(nullptr) - secondsAgo;
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
    return buffer;
}

QRect rectFrom(const QRegularExpressionMatch& match, int width, int height, int x, int y) {
    return QRect(match.captured(x).toInt(), match.captured(y).toInt(), match.captured(width).toInt(),
                 match.captured(height).toInt());
}

} // namespace

TrayDesktopSession::TrayDesktopSession(Welcome welcome, int trayWidth, const QStringList& trayerLook)
    : home_(root_.path() + "/home") {
    for (const char* folder : {"home", "config/brindleaf", "data", "cache", "run"})
        QDir().mkpath(root_.path() + "/" + folder);
    QFile::setPermissions(root_.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile passwd(root_.path() + "/passwd");
    if (passwd.open(QIODevice::WriteOnly))
        passwd.write(
            QStringLiteral("tester:x:%1:%2:Tester:%3:/bin/sh\n").arg(::getuid()).arg(::getgid()).arg(home_).toUtf8());
    passwd.close();
    if (welcome == Welcome::alreadyShown) {
        QFile settings(root_.path() + "/config/brindleaf/com.quorvale.Brindleaf.json");
        if (settings.open(QIODevice::WriteOnly)) settings.write("{\"welcomeShown.v1\":true}\n");
    }
    paintDesktop();
    trayer_.start(QStringLiteral("trayer"), QStringList{"--edge", "top", "--align", "right", "--widthtype", "pixel",
                                                        "--width", QString::number(trayWidth), "--height", "26"} +
                                                trayerLook);
}

void TrayDesktopSession::runOnX(const QString& pageName, GalleryOutput& output,
                                const std::function<void(GalleryOutput&)>& shoot) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        shoot(output);
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
    if (!child.waitForFinished(180000))
        std::fprintf(stderr, "brindleaf-gallery: the %s screenshots timed out\n", qPrintable(pageName));
}

TrayDesktopSession::~TrayDesktopSession() {
    stop();
    engine_.kill();
    engine_.waitForFinished(5000);
    trayer_.terminate();
    trayer_.waitForFinished(5000);
}

bool TrayDesktopSession::launch(const QStringList& arguments) {
    stop();
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("HOME"), home_);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root_.path() + "/config");
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root_.path() + "/data");
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), root_.path() + "/cache");
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root_.path() + "/run");
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral("libnss_wrapper.so"));
    environment.insert(QStringLiteral("NSS_WRAPPER_PASSWD"), root_.path() + "/passwd");
    environment.insert(QStringLiteral("NSS_WRAPPER_GROUP"), QStringLiteral("/etc/group"));
    environment.insert(QStringLiteral("NSS_WRAPPER_DISABLE_DEEPBIND"), QStringLiteral("1"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0:detect_leaks=0"));
    app_ = std::make_unique<QProcess>();
    app_->setProcessEnvironment(environment);
    app_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app_->start(QCoreApplication::applicationDirPath() + "/../app/brindleaf", arguments);
    if (waitFor([this] { return icon().has_value(); })) return true;
    std::fprintf(stderr, "brindleaf-gallery: the tray icon did not appear\n");
    return false;
}

void TrayDesktopSession::stop() {
    if (!app_) return;
    app_->kill();
    app_->waitForFinished(5000);
    app_.reset();
    waitFor([this] { return !icon().has_value(); });
}

std::optional<QRect> TrayDesktopSession::panel() const {
    const QString tree = run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    static const QRegularExpression pattern(
        QStringLiteral(R"re("panel": \("panel" "trayer"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re"));
    const auto match = pattern.match(tree);
    if (!match.hasMatch() || !tree.contains(QStringLiteral("(\"brindleaf\" \"brindleaf\")"))) return std::nullopt;
    return rectFrom(match, 1, 2, 3, 4);
}

std::optional<QRect> TrayDesktopSession::icon() const {
    const QString tree = run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    static const QRegularExpression pattern(
        QStringLiteral(R"re(\("brindleaf" "brindleaf"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re"));
    // The icon is the application's window inside trayer's panel: the one
    // that lies within the panel's bounds.
    const auto bounds = panel();
    if (!bounds) return std::nullopt;
    for (auto it = pattern.globalMatch(tree); it.hasNext();) {
        const QRect candidate = rectFrom(it.next(), 1, 2, 3, 4);
        if (bounds->contains(candidate)) return candidate;
    }
    return std::nullopt;
}

std::optional<QRect> TrayDesktopSession::window(const QString& title, bool withFrame) {
    const QString ids = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                        QStringLiteral("--name"), "^" + title + "$"});
    const QString id = ids.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (id.isEmpty()) return std::nullopt;
    const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
    static const QRegularExpression x(QStringLiteral(R"(Absolute upper-left X:\s+(-?\d+))"));
    static const QRegularExpression y(QStringLiteral(R"(Absolute upper-left Y:\s+(-?\d+))"));
    static const QRegularExpression width(QStringLiteral(R"(Width:\s+(\d+))"));
    static const QRegularExpression height(QStringLiteral(R"(Height:\s+(\d+))"));
    QRect area(x.match(info).captured(1).toInt(), y.match(info).captured(1).toInt(),
               width.match(info).captured(1).toInt(), height.match(info).captured(1).toInt());
    if (area.isEmpty()) return std::nullopt;
    if (withFrame) {
        // _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
        const QString extents =
            run(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("_NET_FRAME_EXTENTS")});
        static const QRegularExpression numbers(QStringLiteral(R"(=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+))"));
        const auto match = numbers.match(extents);
        if (match.hasMatch())
            area.adjust(-match.captured(1).toInt(), -match.captured(3).toInt(), match.captured(2).toInt(),
                        match.captured(4).toInt());
    }
    return area;
}

QImage TrayDesktopSession::grab(QRect area) {
    // Now and then the server's black shows through again when set only once.
    paintDesktop();
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

bool TrayDesktopSession::waitForChange(QRect area, const QImage& before, int milliseconds) {
    if (!waitFor([&] { return grab(area) != before; }, milliseconds)) return false;
    QThread::msleep(1500); // the next frames, if it animates
    return true;
}

bool TrayDesktopSession::waitFor(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds) return false;
        QThread::msleep(100);
    }
    return true;
}

void TrayDesktopSession::click(QPoint point) {
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
                                    QStringLiteral("click"), QStringLiteral("1")});
}

void TrayDesktopSession::key(const QString& keys) { run(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}); }

QString TrayDesktopSession::run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(20000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

void TrayDesktopSession::writeClaudeTranscript(const QString& id, const QString& project,
                                               const std::string& lines) const {
    const QString folder = home_ + "/.claude/projects/-src-" + project;
    QDir().mkpath(folder);
    QFile file(folder + "/" + id + ".jsonl");
    if (file.open(QIODevice::WriteOnly)) file.write(lines.data(), static_cast<qint64>(lines.size()));
}

void TrayDesktopSession::writeWorkingClaudeSession() const {
    const std::string id = "33333333-cccc-4ccc-8ccc-333333333333";
    const std::string cwd = (home_ + "/src/gamma").toStdString();
    std::string text;
    text += R"({"type":"ai-title","aiTitle":"Gamma release","sessionId":")" + id + "\"}\n";
    text += R"({"type":"user","sessionId":")" + id + R"(","cwd":")" + cwd + R"(","timestamp":")" + isoTimestamp(3) +
            R"(","message":{"role":"user","content":"Please fix the build"}})"
            "\n";
    text += R"({"type":"assistant","sessionId":")" + id + R"(","cwd":")" + cwd + R"(","timestamp":")" +
            isoTimestamp(1) + R"(","message":{"role":"assistant","model":"claude-opus-4-1","content":[)" +
            R"({"type":"tool_use","id":"toolu_1","name":"Bash","input":{"command":"make"}}]}})"
            "\n";
    writeClaudeTranscript(QString::fromStdString(id), QStringLiteral("gamma"), text);
}

void TrayDesktopSession::writeWaitingClaudeSession() {
    const std::string id = "44444444-dddd-4ddd-8ddd-444444444444";
    const std::string cwd = (home_ + "/src/delta").toStdString();
    std::string text;
    text += R"({"type":"ai-title","aiTitle":"Delta schema migration","sessionId":")" + id + "\"}\n";
    text += R"({"type":"user","sessionId":")" + id + R"(","cwd":")" + cwd + R"(","timestamp":")" + isoTimestamp(4) +
            R"(","message":{"role":"user","content":"Move the orders tables to the new schema"}})"
            "\n";
    text += R"({"type":"assistant","sessionId":")" + id + R"(","cwd":")" + cwd + R"(","timestamp":")" +
            isoTimestamp(2) + R"(","message":{"role":"assistant","model":"claude-sonnet-4-5","content":[)" +
            R"({"type":"text","text":"The old tables are still read by the nightly report."},)" +
            R"({"type":"tool_use","id":"toolu_2","name":"AskUserQuestion","input":{"questions":[)" +
            R"({"question":"Keep the old tables until the next release?","header":"Old tables",)" +
            R"("multiSelect":false,"options":[{"label":"Keep them"},{"label":"Drop them now"}]}]}}]}})"
            "\n";
    writeClaudeTranscript(QString::fromStdString(id), QStringLiteral("delta"), text);
    QDir().mkpath(QString::fromStdString(cwd));
    engine_.setWorkingDirectory(QString::fromStdString(cwd));
    engine_.start(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("exec -a claude sleep 600")});
    engine_.waitForStarted();
}

} // namespace brindleaf::gallery
