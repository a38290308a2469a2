#include "platform/DelayedAction.hpp"

#include <utility>

namespace brindleaf {

void DelayedAction::schedule(MainQueue& queue, double delaySeconds, MainQueue::Job job) {
    cancel();
    auto token = std::make_shared<Token>();
    token_ = token;
    queue.postAfter(delaySeconds, [token, job = std::move(job)] {
        if (token->cancelled) return;
        token->started = true;
        if (job) job();
    });
}

void DelayedAction::cancel() {
    if (token_) token_->cancelled = true;
    token_.reset();
}

bool DelayedAction::isPending() const { return token_ && !token_->cancelled && !token_->started; }

} // namespace brindleaf
