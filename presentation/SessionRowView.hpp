#pragma once

#include "presentation/SessionRowContent.hpp"

#include "platform/SessionJumper.hpp"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

class QHBoxLayout;
class QMenu;
class QVBoxLayout;

namespace brindleaf {

// What a card asks of the program to go to its session; both run off the UI
// thread, the check's answer comes back on it. Either may be empty.
struct SessionRowActions {
    std::function<void(int64_t pid)> goTo;
    std::function<void(int64_t pid, std::function<void(SessionJumpCheck)> answer)> check;
};

class ElidedLabel;
class ProviderBadge;
class SymbolIcon;

// One session's card in the dashboard and the floating window: the status dot,
// the title with the agent's badge, the activity line and the detail lines,
// on a rounded background. A click on it goes to the session's terminal; its
// context menu does that too ("Go to Session", enabled once the check says it
// can, else disabled with the reason as its tooltip) and copies plain text to
// the clipboard. Every text is plain text.
//
// Tab reaches the card; with the focus it shows the focus ring along its
// outline, Return and Enter go to the session, and Space, the Menu key or
// Shift+F10 open its menu under the title.
//
// Rows are reused between refreshes (setContent) and, once their session is
// gone, retired: a row whose menu is open stays alive, hidden, until the menu
// closes.
class SessionRowView final : public QWidget {
    Q_OBJECT
public:
    explicit SessionRowView(const SessionRowContent& content, QWidget* parent = nullptr,
                            SessionRowActions actions = {});
    ~SessionRowView() override;

    // Shows new content; only what changed is touched.
    void setContent(const SessionRowContent& content);
    const SessionRowContent& content() const { return content_; }

    // Opens the context menu at a global position (non-blocking) and returns it.
    QMenu* showContextMenu(const QPoint& globalPosition);
    bool isMenuOpen() const { return !menu_.isNull(); }
    // The session left the list: delete the row now, or when its menu closes.
    void retire();

    // The colour of a session waiting for the user (sRGB 1.0, 0.52, 0.1).
    static QColor attentionColor();

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;

private:
    struct DetailWidgets {
        QWidget* line = nullptr;
        SymbolIcon* icon = nullptr;
        ElidedLabel* text = nullptr;
    };

    // Where a menu opened from the keyboard goes: under the title's start.
    QPoint menuPlace() const;
    void applyDetails();
    void updateAccessibleText();
    // Goes to the session; nothing happens where it cannot.
    void goToSession();
    // Asks whether the card can go to its session; the answer updates the
    // card's tooltip and cursor (and the menu's item, when it is open).
    void checkGoTo();
    void applyGoToCheck(int64_t pid, const SessionJumpCheck& check);

    SessionRowContent content_;
    QWidget* dot_ = nullptr;
    ElidedLabel* title_ = nullptr;
    ProviderBadge* badge_ = nullptr;
    QHBoxLayout* titleLine_ = nullptr;
    ElidedLabel* activity_ = nullptr;
    QVBoxLayout* lines_ = nullptr;
    std::vector<DetailWidgets> details_;
    QPointer<QMenu> menu_;
    QPointer<QAction> goToAction_;
    SessionRowActions actions_;
    bool pressed_ = false;
    bool retired_ = false;
};

} // namespace brindleaf
