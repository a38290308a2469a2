#pragma once

#include "app/StatusDashboardSink.hpp"
#include "presentation/StatusDashboardModel.hpp"

#include <memory>
#include <utility>

namespace brindleaf {

// The status bar controller's view of the dashboard model. Header-only, so
// that the application library does not link the drawing library; the tray
// shell, which links both, makes it. Main thread only.
class StatusDashboardModelSink final : public StatusDashboardSink {
public:
    explicit StatusDashboardModelSink(std::shared_ptr<StatusDashboardModel> model) : model_(std::move(model)) {}

    void publishSnapshot(const AgentStatusSnapshot& snapshot) override { model_->setSnapshot(snapshot); }
    std::int64_t beginManualRefresh() override { return model_->beginManualRefresh(); }
    void finishRefresh(std::int64_t generation) override { model_->finishRefresh(generation); }
    ClearedStaleBaselines clearedStaleBaselines() const override { return model_->clearedStaleBaselines(); }
    // Nothing to do: the model observes the sample-data setting itself and
    // announces the change to its surfaces on the next turn.
    void announceChange() override {}

private:
    std::shared_ptr<StatusDashboardModel> model_;
};

} // namespace brindleaf
