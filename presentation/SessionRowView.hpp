#pragma once

#include "presentation/SessionRowContent.hpp"

#include <QPointer>
#include <QWidget>

#include <vector>

class QHBoxLayout;
class QMenu;
class QVBoxLayout;

namespace brindleaf {

class ElidedLabel;
class ProviderBadge;
class SymbolIcon;

// One session's card in the dashboard and the floating window: the status dot,
// the title with the agent's badge, the activity line and the detail lines,
// on a rounded background. Its context menu copies plain text to the
// clipboard. Every text is plain text.
//
// Tab reaches the card; with the focus it shows the focus ring along its
// outline, and Space, Return, Enter, the Menu key or Shift+F10 open its menu
// under the title.
//
// Rows are reused between refreshes (setContent) and, once their session is
// gone, retired: a row whose menu is open stays alive, hidden, until the menu
// closes.
class SessionRowView final : public QWidget {
    Q_OBJECT
public:
    explicit SessionRowView(const SessionRowContent& content, QWidget* parent = nullptr);
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

    SessionRowContent content_;
    QWidget* dot_ = nullptr;
    ElidedLabel* title_ = nullptr;
    ProviderBadge* badge_ = nullptr;
    QHBoxLayout* titleLine_ = nullptr;
    ElidedLabel* activity_ = nullptr;
    QVBoxLayout* lines_ = nullptr;
    std::vector<DetailWidgets> details_;
    QPointer<QMenu> menu_;
    bool retired_ = false;
};

} // namespace brindleaf
