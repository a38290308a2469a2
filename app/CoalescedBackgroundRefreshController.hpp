#pragma once

#include "core/Date.hpp"
#include "platform/DecimalText.hpp"
#include "platform/Logger.hpp"
#include "platform/MainQueue.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace brindleaf {

// Runs at most one status refresh at a time. A refresh is a load step that
// runs off the main queue and produces a value, an apply step that takes the
// value on the main queue, and a time-out step. Requests made while a run is
// in flight are not queued one after another: only the newest waiting request
// is kept, and it starts when the running one ends. Every run gets the next
// sequence number; a run that hit its time limit never applies its result.
//
// Confined to the main queue: request() is called there, and time-outs and
// completions come back there. Only the load steps run on the runner, and
// after a time-out two of them may run at once (the late one and the next).
// Pending time-outs and completions hold the controller weakly.
template <typename Value>
class CoalescedBackgroundRefreshController
    : public std::enable_shared_from_this<CoalescedBackgroundRefreshController<Value>> {
public:
    using Load = std::function<Value(Date now)>;
    using Apply = std::function<void(const Value&)>;
    using OnTimeout = std::function<void()>;
    // Runs a load step off the main queue.
    using Runner = std::function<void(std::function<void()>)>;

    struct PendingRequest {
        Date now = 0;
        Load load;
        Apply apply;
        OnTimeout onTimeout;
    };

    // A time limit of 0 or less means none.
    static std::shared_ptr<CoalescedBackgroundRefreshController> make(std::shared_ptr<MainQueue> mainQueue,
                                                                      Runner runner, double timeout) {
        return std::shared_ptr<CoalescedBackgroundRefreshController>(
            new CoalescedBackgroundRefreshController(std::move(mainQueue), std::move(runner), timeout));
    }

    void request(Date now, Load load, Apply apply, OnTimeout onTimeout) {
        PendingRequest request{now, std::move(load), std::move(apply), std::move(onTimeout)};
        if (!isPhysicalRefreshInFlight_) {
            start(std::move(request));
            return;
        }
        pendingRequest_ = std::move(request);
        logger_.debug("refresh.coalesced");
    }

    double timeout() const { return timeout_; }
    std::int64_t requestSequence() const { return requestSequence_; }
    std::optional<std::int64_t> activeRequestID() const { return activeRequestID_; }
    bool activeRequestTimedOut() const { return activeRequestTimedOut_; }
    bool isPhysicalRefreshInFlight() const { return isPhysicalRefreshInFlight_; }
    bool hasPendingRequest() const { return pendingRequest_.has_value(); }

private:
    CoalescedBackgroundRefreshController(std::shared_ptr<MainQueue> mainQueue, Runner runner, double timeout)
        : logger_("Status"), mainQueue_(std::move(mainQueue)), runner_(std::move(runner)), timeout_(timeout) {}

    void start(PendingRequest request) {
        isPhysicalRefreshInFlight_ = true;
        activeRequestTimedOut_ = false;
        std::int64_t id = ++requestSequence_;
        activeRequestID_ = id;
        double startedAt = mainQueue_->now();
        logger_.debug("refresh.started id=" + std::to_string(id));

        auto shared = std::make_shared<PendingRequest>(std::move(request));
        std::weak_ptr<CoalescedBackgroundRefreshController> weak = this->shared_from_this();
        if (timeout_ > 0) {
            mainQueue_->postAfter(timeout_, [weak, shared, id] {
                if (auto self = weak.lock()) self->timeoutCheck(id, *shared);
            });
        }
        std::shared_ptr<MainQueue> mainQueue = mainQueue_;
        runner_([weak, shared, id, startedAt, mainQueue] {
            auto value = std::make_shared<Value>(shared->load(shared->now));
            mainQueue->post([weak, shared, id, startedAt, value] {
                if (auto self = weak.lock()) self->complete(id, *shared, *value, startedAt);
            });
        });
    }

    void timeoutCheck(std::int64_t id, const PendingRequest& request) {
        if (activeRequestID_ != id) return;
        activeRequestTimedOut_ = true;
        logger_.error("refresh.timeout id=" + std::to_string(id) + " timeout=" + DecimalText::fixed(timeout_, 6));
        activeRequestID_.reset();
        isPhysicalRefreshInFlight_ = false;
        if (request.onTimeout) request.onTimeout();
        startPending();
    }

    void complete(std::int64_t id, const PendingRequest& request, const Value& value, double startedAt) {
        if (activeRequestID_ != id) {
            logger_.debug("refresh.dropped id=" + std::to_string(id));
            return;
        }
        if (request.apply) request.apply(value);
        auto elapsedMs = static_cast<std::int64_t>((mainQueue_->now() - startedAt) * 1000);
        logger_.debug("refresh.finished id=" + std::to_string(id) + " elapsedMs=" + std::to_string(elapsedMs) +
                      " applied=true");
        activeRequestID_.reset();
        activeRequestTimedOut_ = false;
        isPhysicalRefreshInFlight_ = false;
        startPending();
    }

    void startPending() {
        if (isPhysicalRefreshInFlight_ || !pendingRequest_) return;
        PendingRequest next = std::move(*pendingRequest_);
        pendingRequest_.reset();
        start(std::move(next));
    }

    Logger logger_;
    std::shared_ptr<MainQueue> mainQueue_;
    Runner runner_;
    double timeout_;
    std::int64_t requestSequence_ = 0;
    std::optional<std::int64_t> activeRequestID_;
    bool activeRequestTimedOut_ = false;
    bool isPhysicalRefreshInFlight_ = false;
    std::optional<PendingRequest> pendingRequest_;
};

} // namespace brindleaf
