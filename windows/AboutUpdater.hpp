#pragma once

#include <cstdint>
#include <functional>

namespace brindleaf {

// What the About pane asks of the software updater: a check now, and the
// automatic-check switch. The application hands it an adapter over the
// process's updater; tests use a fake.
class AboutUpdater {
public:
    using ObserverID = std::uint64_t;

    virtual ~AboutUpdater() = default;
    virtual void checkForUpdates() = 0;
    virtual bool automaticallyChecksForUpdates() = 0;
    virtual void setAutomaticallyChecksForUpdates(bool on) = 0;
    // Told after the switch (or anything else the pane shows) changed.
    virtual ObserverID addObserver(std::function<void()> observer) = 0;
    virtual void removeObserver(ObserverID id) = 0;
};

} // namespace brindleaf
