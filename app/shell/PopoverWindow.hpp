#pragma once

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <optional>

class QVBoxLayout;

namespace brindleaf {

// The frameless popup under the tray icon that holds the dashboard. A tool
// window rather than a Qt popup: a popup grabs the keyboard, and the global
// hot key must still reach the application while it is open. It closes
// itself when it loses the focus, and on Escape.
class PopoverWindow final : public QWidget {
    Q_OBJECT
public:
    explicit PopoverWindow(QWidget* parent = nullptr);

    // Puts the content in (the popup owns it); an earlier content is deleted.
    void setContent(QWidget* content);
    // Opens at the top-left corner given (screen pixels), activated. The
    // place is set before the window is mapped and held once it is: a
    // window manager that places the new window itself is overruled, up to
    // `maximumCorrections` times per opening.
    void openAt(QPoint topLeft);
    static constexpr int maximumCorrections = 3;
    // Closes it on the application's behalf (no closedItself()).
    void dismiss();

signals:
    // Closed by losing the focus (Escape and the application's own closing do not count).
    void closedItself();

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void holdPlace();

    QVBoxLayout* layout_;
    QPointer<QWidget> content_;
    bool dismissing_ = false;
    std::optional<QPoint> target_;
    int corrections_ = 0;
};

} // namespace brindleaf
