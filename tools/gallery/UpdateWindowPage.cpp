#include "tools/gallery/GalleryRegistry.hpp"
#include "windows/PlainMessageBox.hpp"
#include "windows/UpdateWindow.hpp"

#include <QApplication>
#include <QMessageBox>

#include <memory>

namespace brindleaf::gallery {

namespace {

QImage snapshot(QWidget& widget) {
    widget.setAttribute(Qt::WA_DontShowOnScreen);
    widget.show();
    QApplication::processEvents();
    QImage image = widget.grab().toImage();
    widget.close();
    return image;
}

AppcastItem release() {
    AppcastItem item;
    item.title = "Brindleaf 1.10";
    item.version = "1.10.0";
    item.displayVersion = "1.10";
    item.releaseNotes = "<h2>What's new</h2><ul><li>The floating window remembers its place.</li>"
                        "<li>Codex sessions started from the app show their titles.</li>"
                        "<li>Fewer wake-ups while no agent is running.</li></ul>"
                        "<p>Markup such as <script>alert(1)</script>&lt;b&gt;this&lt;/b&gt; stays plain text.</p>";
    item.downloadLink = "https://quorvale.com/en/brindleaf/";
    return item;
}

void renderUpdateWindow(GalleryOutput& output) {
    {
        UpdateWindow window([](const QUrl&) { return true; });
        window.setPrompt(UpdatePrompt::make(release(), "1.0.0"));
        output.savePNG("update/window", snapshot(window));
    }
    {
        // A release whose download link is not https: Download stays off.
        AppcastItem item = release();
        item.releaseNotes.clear();
        item.releaseNotesLink = "https://quorvale.com/en/brindleaf/notes/";
        item.downloadLink = "http://quorvale.com/download";
        UpdateWindow window([](const QUrl&) { return true; });
        window.setPrompt(UpdatePrompt::make(item, "1.0.0"));
        output.savePNG("update/window-no-https-link", snapshot(window));
    }
    struct Box {
        const char* name;
        QMessageBox::Icon icon;
        std::string title;
        std::string message;
    };
    const Box boxes[] = {
        {"update/cannot-check", QMessageBox::Warning, "Can't Check for Updates",
         "Brindleaf couldn't reach quorvale.com. Check your internet connection and try again."},
        {"update/up-to-date", QMessageBox::Information, UpdatePrompt::upToDateTitle,
         UpdatePrompt::upToDateMessage("1.0.0")},
    };
    for (const auto& entry : boxes) {
        std::unique_ptr<QMessageBox> box(makePlainMessageBox(entry.icon, entry.title, entry.message));
        output.savePNG(entry.name, snapshot(*box));
    }
}

const bool registered = registerGalleryPage({"update", renderUpdateWindow});

} // namespace

} // namespace brindleaf::gallery
