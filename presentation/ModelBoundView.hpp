#pragma once

#include "core/Date.hpp"
#include "presentation/SessionRowView.hpp"
#include "presentation/StatusDashboardModel.hpp"

#include <QWidget>

#include <functional>

namespace brindleaf {

// A view drawn from the dashboard model: it redraws on the next turn of the
// event loop after the model or the settings change (the settings store
// announces before it stores, so the redraw reads the new value), several
// changes within one turn making one redraw. Its relative times read a clock
// that tests and the gallery can fix.
class ModelBoundView : public QWidget {
    Q_OBJECT
public:
    using Clock = std::function<Date()>;

    ~ModelBoundView() override;

    // The wall clock for relative times (the current time unless set).
    void setClock(Clock clock);
    // Hides the sample-data notice (the process's --screenshot-mode by default).
    void setScreenshotMode(bool on);

    // Redraws from the model now / on the next turn of the event loop.
    void apply();
    void scheduleApply();

protected:
    ModelBoundView(StatusDashboardModel& model, QWidget* parent);

    // Starts following the model and the settings; the last step of a
    // subclass's constructor, once everything redraw() touches exists.
    void followModel();
    virtual void redraw() = 0;

    Date now() const { return clock_(); }
    // What the session cards ask of the program, through the model's actions as they are at the time.
    SessionRowActions sessionRowActions() const;
    bool isScreenshotMode() const { return screenshotMode_; }

    StatusDashboardModel& model_;

private:
    StatusDashboardModel::ObserverID modelObserver_ = 0;
    ProviderSettingsStore::ObserverID settingsObserver_ = 0;
    bool following_ = false;
    Clock clock_;
    bool screenshotMode_;
    bool applyPending_ = false;
};

} // namespace brindleaf
