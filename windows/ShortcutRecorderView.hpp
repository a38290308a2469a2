#pragma once

#include "windows/ShortcutRecorderModel.hpp"

#include <QWidget>

#include <memory>

class QKeyEvent;
class QLabel;
class QPushButton;
class QToolButton;

namespace brindleaf {

// The shortcut recorder control: the shortcut button, the restore-default
// button beside it and, under them, the message line. Paints a
// ShortcutRecorderModel and feeds it the application's key presses while it
// records (they reach no other widget then). Recording stops when the control
// is hidden.
//
// Child object names, for tests: "shortcutButton", "resetButton", "shortcutMessage".
class ShortcutRecorderView final : public QWidget {
    Q_OBJECT

public:
    explicit ShortcutRecorderView(std::unique_ptr<ShortcutRecorderModel> model, QWidget* parent = nullptr);
    ~ShortcutRecorderView() override;

    ShortcutRecorderModel& model() { return *model_; }

    // The stored key code of a key event: from its native key code on the
    // current keyboard when it has one, else from the key it names on a US
    // keyboard; absent for keys outside the key table.
    static std::optional<std::uint32_t> keyCodeOf(const QKeyEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();

    std::unique_ptr<ShortcutRecorderModel> model_;
    QPushButton* shortcutButton_;
    QToolButton* resetButton_;
    QLabel* message_;
    bool filtering_ = false;
};

} // namespace brindleaf
