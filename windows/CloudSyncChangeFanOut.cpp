#include "windows/CloudSyncChangeFanOut.hpp"

#include "sync/StatusCloudSyncController.hpp"

namespace brindleaf {

std::shared_ptr<CloudSyncChangeFanOut> CloudSyncChangeFanOut::attach(StatusCloudSyncController& controller) {
    auto fanOut = std::make_shared<CloudSyncChangeFanOut>();
    controller.setOnChange([weak = std::weak_ptr<CloudSyncChangeFanOut>(fanOut)] {
        if (auto self = weak.lock()) self->notify();
    });
    return fanOut;
}

CloudSyncChangeFanOut::ObserverID CloudSyncChangeFanOut::addObserver(std::function<void()> observer) {
    const ObserverID id = nextID_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void CloudSyncChangeFanOut::removeObserver(ObserverID id) { observers_.erase(id); }

void CloudSyncChangeFanOut::notify() {
    // A copy, so an observer may add or remove observers while it is told.
    auto observers = observers_;
    for (const auto& [id, observer] : observers) {
        if (observer) observer();
    }
}

} // namespace brindleaf
