#include "tests/support/FontconfigLeakSuppression.hpp"
#include "windows/ShortcutRecorderView.hpp"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace brindleaf;

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "windows_tests";
    static char* argv[] = {name, nullptr};
    // Widget tests draw off screen; the test's environment does not always say so.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app =
        qobject_cast<QApplication*>(QCoreApplication::instance()) ?: new QApplication(argc, argv);
    return *app;
}

class ShortcutRecorderViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        auto model = std::make_unique<ShortcutRecorderModel>(
            HotkeyShortcut{1, 6400}, HotkeyShortcut{1, 6400},
            [this](const HotkeyShortcut& s) {
                if (!s.hasRequiredModifier()) return ShortcutChangeResult::needsModifier;
                if (s == HotkeyShortcut{0, 6400}) return ShortcutChangeResult::duplicate;
                accepted.push_back(s);
                return ShortcutChangeResult::accepted;
            },
            [this] { ++resets; });
        view = std::make_unique<ShortcutRecorderView>(std::move(model));
        view->show();
        button = view->findChild<QPushButton*>("shortcutButton");
        reset = view->findChild<QToolButton*>("resetButton");
        message = view->findChild<QLabel*>("shortcutMessage");
    }

    // A key press as the application delivers it to the focused button.
    bool press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        return QApplication::sendEvent(button, &event) && event.isAccepted();
    }

    std::unique_ptr<ShortcutRecorderView> view;
    QPushButton* button = nullptr;
    QToolButton* reset = nullptr;
    QLabel* message = nullptr;
    std::vector<HotkeyShortcut> accepted;
    int resets = 0;
};

} // namespace

TEST_F(ShortcutRecorderViewTest, PaintsTheModel) {
    ASSERT_TRUE(button && reset && message);
    EXPECT_EQ(button->text().toStdString(), "Ctrl+Alt+Super+Key 1") << "no keyboard layout in this test";
    EXPECT_EQ(button->accessibleName().toStdString(), "Shortcut Ctrl+Alt+Super+Key 1");
    EXPECT_EQ(button->accessibleDescription().toStdString(), "Click, then press a new key combination.");
    EXPECT_GE(button->minimumWidth(), 96);
    EXPECT_FALSE(reset->isEnabled());
    EXPECT_EQ(reset->toolTip().toStdString(), "Restore Default (Ctrl+Alt+Super+Key 1)");
    EXPECT_EQ(reset->accessibleName().toStdString(), "Restore default shortcut");
    EXPECT_TRUE(message->isHidden());
    button->click();
    EXPECT_EQ(button->text().toStdString(), "Type Shortcut…");
}

TEST_F(ShortcutRecorderViewTest, SyntheticKeyPressesWhileRecording) {
    button->click();
    EXPECT_TRUE(press(Qt::Key_Control, Qt::ControlModifier));
    EXPECT_TRUE(message->isHidden()) << "a lone Ctrl is ignored";
    EXPECT_TRUE(view->model().isRecording());

    EXPECT_TRUE(press(Qt::Key_A, Qt::ShiftModifier));
    EXPECT_FALSE(message->isHidden());
    EXPECT_EQ(message->text().toStdString(), "Include Ctrl, Alt or Super in the shortcut.");

    EXPECT_TRUE(press(Qt::Key_A, Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    EXPECT_EQ(message->text().toStdString(), "The other shortcut already uses Ctrl+Alt+Super+Key 0.");

    EXPECT_TRUE(press(Qt::Key_Escape));
    EXPECT_FALSE(view->model().isRecording());
    EXPECT_TRUE(accepted.empty());

    EXPECT_FALSE(press(Qt::Key_B, Qt::ControlModifier)) << "after recording, keys go on as usual";
    button->click();
    EXPECT_TRUE(press(Qt::Key_F5, Qt::MetaModifier | Qt::ShiftModifier));
    ASSERT_EQ(accepted.size(), 1u);
    EXPECT_EQ(accepted[0], (HotkeyShortcut{96, 256 | 512}));
    EXPECT_EQ(button->text().toStdString(), "Shift+Super+F5");
    EXPECT_TRUE(reset->isEnabled());
    EXPECT_TRUE(message->isHidden());

    reset->click();
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(button->text().toStdString(), "Ctrl+Alt+Super+Key 1");
}

TEST_F(ShortcutRecorderViewTest, HidingStopsRecording) {
    button->click();
    view->hide();
    EXPECT_FALSE(view->model().isRecording());
    EXPECT_FALSE(press(Qt::Key_B, Qt::ControlModifier));
}
