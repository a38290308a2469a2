#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace brindleaf {

class StatusCloudSyncController;

// The sync controller has a single change callback; this takes it and tells
// every observer (the shell and the settings window's sync pane) in turn.
// Main thread only, like the controller.
class CloudSyncChangeFanOut {
public:
    using ObserverID = std::uint64_t;

    // Installs itself as the controller's change callback, holding itself weakly there.
    static std::shared_ptr<CloudSyncChangeFanOut> attach(StatusCloudSyncController& controller);

    ObserverID addObserver(std::function<void()> observer);
    void removeObserver(ObserverID id);
    void notify();

private:
    std::map<ObserverID, std::function<void()>> observers_;
    ObserverID nextID_ = 1;
};

} // namespace brindleaf
