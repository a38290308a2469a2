#pragma once

#include "core/Date.hpp"
#include "presentation/StatusDashboardModel.hpp"

#include <QWidget>

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
class FloatingStatusContentView final : public QWidget {
    Q_OBJECT
public:
    using Clock = std::function<Date()>;

    FloatingStatusContentView(StatusDashboardModel& model, std::function<void()> onClose,
                              std::function<void(double)> onIdealHeight, QWidget* parent = nullptr);
    ~FloatingStatusContentView() override;

    void setClock(Clock clock);
    // Hides the sample-data notice (the process's --screenshot-mode by default).
    void setScreenshotMode(bool on);

    void apply();
    void scheduleApply();

    std::vector<SessionRowView*> sessionRows() const;
    // The height of the content, margins included, as last reported.
    double idealHeight() const { return idealHeight_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void reportHeight();

    StatusDashboardModel& model_;
    std::function<void()> onClose_;
    std::function<void(double)> onIdealHeight_;
    StatusDashboardModel::ObserverID modelObserver_ = 0;
    ProviderSettingsStore::ObserverID settingsObserver_ = 0;
    Clock clock_;
    bool screenshotMode_ = false;
    bool applyPending_ = false;
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
