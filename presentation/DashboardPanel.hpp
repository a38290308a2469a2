#pragma once

#include <QWidget>

namespace brindleaf {

class StatusDashboardView;

// The rounded panel that holds the dashboard in the tray shell's popup: the
// window colour on a rounded rectangle with a hairline border, the view
// inside. Over a compositor the popup is translucent and the corners show
// what lies behind; without one, setRoundedMask(true) cuts them.
class DashboardPanel final : public QWidget {
    Q_OBJECT
public:
    static constexpr double cornerRadius = 12;

    // Takes ownership of the view.
    explicit DashboardPanel(StatusDashboardView* view, QWidget* parent = nullptr);

    StatusDashboardView* view() const { return view_; }
    // Cuts the corners with a window mask (for an X server without a compositor).
    void setRoundedMask(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyMask();

    StatusDashboardView* view_;
    bool roundedMask_ = false;
};

} // namespace brindleaf
