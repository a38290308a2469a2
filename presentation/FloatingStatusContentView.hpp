#pragma once

#include "presentation/ModelBoundView.hpp"

#include <functional>
#include <memory>
#include <vector>

class QScrollArea;
class QVBoxLayout;

namespace brindleaf {

class ElidedLabel;
class HoverSymbolButton;
class SessionRowList;
class SessionRowView;

// What the floating status window shows: a large header (a tinted tile with
// the number of active sessions or a check mark, a pulsing dot while agents
// work, the mood's title and summary, a close button), the sample-data notice,
// and every active session as a card, or a quiet empty state. It reports the
// natural height of its content so the window can fit itself to it, and
// redraws on the next turn after the model or the settings change.
class FloatingStatusContentView final : public ModelBoundView {
    Q_OBJECT
public:
    FloatingStatusContentView(StatusDashboardModel& model, std::function<void()> onClose,
                              std::function<void(double)> onIdealHeight, QWidget* parent = nullptr);
    ~FloatingStatusContentView() override;

    std::vector<SessionRowView*> sessionRows() const;
    // The height of the content, margins included, as last reported.
    double idealHeight() const { return idealHeight_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void redraw() override;

private:
    void reportHeight();

    std::function<void()> onClose_;
    std::function<void(double)> onIdealHeight_;
    double idealHeight_ = 0;

    QScrollArea* scroll_ = nullptr;
    QWidget* stack_ = nullptr;
    QWidget* header_ = nullptr;
    QWidget* tile_ = nullptr;
    QWidget* pulsingDot_ = nullptr;
    ElidedLabel* title_ = nullptr;
    ElidedLabel* summary_ = nullptr;
    HoverSymbolButton* closeButton_ = nullptr;
    QWidget* notice_ = nullptr;
    QWidget* empty_ = nullptr;
    QWidget* list_ = nullptr;
    std::unique_ptr<SessionRowList> rows_;
};

} // namespace brindleaf
