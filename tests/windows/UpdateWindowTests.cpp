#include "windows/UpdateAlert.hpp"
#include "windows/UpdateUserDriver.hpp"
#include "windows/UpdateWindow.hpp"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace brindleaf;
using Choice = AppcastUserDriver::Choice;

namespace {

void ensureApplication() {
    if (QApplication::instance()) return;
    // Widget tests draw off screen unless the caller chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "windows_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}

AppcastItem release(const std::string& link = "https://quorvale.com/en/brindleaf/") {
    return {"Brindleaf 1.10", "1.10", "1.10", "<b>Bold</b> &lt;i&gt;not markup&lt;/i&gt;", "", link, ""};
}

template <typename T>
T* find(QWidget* window, const char* name) {
    auto* widget = window->findChild<T*>(name);
    EXPECT_TRUE(widget) << name;
    return widget;
}

class UpdateWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }

    std::vector<QUrl> opened;
    std::vector<Choice> replies;
    std::unique_ptr<UpdateUserDriver> driver = std::make_unique<UpdateUserDriver>("1.0.0", [this](const QUrl& url) {
        opened.push_back(url);
        return true;
    });

    void show(const AppcastItem& item) {
        driver->showUpdateFound(item, true, [this](Choice choice) { replies.push_back(choice); });
    }
};

} // namespace

TEST_F(UpdateWindowTest, ShowsTheReleaseAsPlainText) {
    show(release());
    UpdateWindow* window = driver->window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Software Update");
    auto* version = find<QLabel>(window, "updateVersionLine");
    EXPECT_EQ(version->textFormat(), Qt::PlainText);
    EXPECT_EQ(version->text().toStdString(),
              "Brindleaf 1.10 is now available\u2014you have 1.0.0. Would you like to download it now?");
    EXPECT_EQ(find<QPlainTextEdit>(window, "updateReleaseNotes")->toPlainText(), "Bold <i>not markup</i>");
    EXPECT_EQ(find<QPushButton>(window, "updateDownload")->text(), "Download");
    EXPECT_EQ(find<QPushButton>(window, "updateRemindLater")->text(), "Remind Me Later");
    EXPECT_EQ(find<QPushButton>(window, "updateSkip")->text(), "Skip This Version");
}

TEST_F(UpdateWindowTest, EachButtonAnswersOnce) {
    struct Case {
        const char* button;
        Choice choice;
    };
    for (const Case& c : {Case{"updateDownload", Choice::download}, Case{"updateRemindLater", Choice::remindLater},
                          Case{"updateSkip", Choice::skip}}) {
        SCOPED_TRACE(c.button);
        replies.clear();
        opened.clear();
        show(release());
        find<QPushButton>(driver->window(), c.button)->click();
        EXPECT_EQ(replies, std::vector<Choice>{c.choice});
        EXPECT_FALSE(driver->window()->isVisible());
        EXPECT_EQ(opened.size(), c.choice == Choice::download ? 1u : 0u);
        driver->window()->close(); // already answered: no second reply
        EXPECT_EQ(replies.size(), 1u);
    }
}

TEST_F(UpdateWindowTest, DownloadOpensOnlyTheHttpsPage) {
    show(release());
    find<QPushButton>(driver->window(), "updateDownload")->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), "https://quorvale.com/en/brindleaf/");

    opened.clear();
    replies.clear();
    show(release("http://quorvale.com/download"));
    auto* download = find<QPushButton>(driver->window(), "updateDownload");
    EXPECT_FALSE(download->isEnabled());
    download->click();
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(replies.empty());
}

TEST_F(UpdateWindowTest, ClosingRemindsLaterAndDismissingSaysNothing) {
    show(release());
    driver->window()->close();
    EXPECT_EQ(replies, std::vector<Choice>{Choice::remindLater});

    replies.clear();
    show(release());
    driver->dismissUpdate();
    EXPECT_FALSE(driver->window()->isVisible());
    EXPECT_TRUE(replies.empty());
}

TEST_F(UpdateWindowTest, TheAlertIsModalPlainText) {
    std::string title;
    std::string informative;
    Qt::TextFormat format = Qt::RichText;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        title = box->text().toStdString();
        informative = box->informativeText().toStdString();
        for (auto* label : box->findChildren<QLabel*>()) {
            if (label->text() == box->informativeText()) format = label->textFormat();
        }
        box->accept();
    });
    UpdateAlert().showAlert("Can't Check for Updates", "<b>not bold</b>");
    EXPECT_EQ(title, "Can't Check for Updates");
    EXPECT_EQ(informative, "<b>not bold</b>");
    EXPECT_EQ(format, Qt::PlainText);
}
