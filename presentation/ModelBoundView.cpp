#include "presentation/ModelBoundView.hpp"

#include "presentation/ScreenshotMode.hpp"

#include <QTimer>

#include <utility>

namespace brindleaf {

ModelBoundView::ModelBoundView(StatusDashboardModel& model, QWidget* parent)
    : QWidget(parent), model_(model), clock_(currentDate), screenshotMode_(brindleaf::isScreenshotMode()) {}

ModelBoundView::~ModelBoundView() {
    if (!following_) return;
    model_.removeObserver(modelObserver_);
    model_.settings().removeObserver(settingsObserver_);
}

void ModelBoundView::followModel() {
    modelObserver_ = model_.addObserver([this](StatusDashboardModel::Property) { scheduleApply(); });
    settingsObserver_ = model_.settings().addObserver([this](ProviderSettingsStore::Property) { scheduleApply(); });
    following_ = true;
    apply();
}

void ModelBoundView::setClock(Clock clock) {
    clock_ = clock ? std::move(clock) : Clock(currentDate);
    scheduleApply();
}

void ModelBoundView::setScreenshotMode(bool on) {
    screenshotMode_ = on;
    scheduleApply();
}

void ModelBoundView::scheduleApply() {
    if (applyPending_) return;
    applyPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (applyPending_) apply();
    });
}

void ModelBoundView::apply() {
    applyPending_ = false;
    redraw();
}

SessionRowActions ModelBoundView::sessionRowActions() const {
    StatusDashboardModel* model = &model_;
    return {
        [model](int64_t pid) {
            if (model->actions.onGoToSession) model->actions.onGoToSession(pid);
        },
        [model](int64_t pid, std::function<void(SessionJumpCheck)> answer) {
            if (model->actions.onCheckGoToSession) model->actions.onCheckGoToSession(pid, std::move(answer));
        },
    };
}

} // namespace brindleaf
